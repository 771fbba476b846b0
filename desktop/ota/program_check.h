// Checks on a downloaded program before it may replace the installed one.
#pragma once

#include <string>

enum class ImageCheck {
    Complete,   // headers whole, every section's raw data inside the file
    Truncated,  // a Windows executable whose end is missing: a cut-off transfer
    NotProgram, // no Windows executable at all
};

// Reads the PE headers and the section table of `bytes` (the whole file).
ImageCheck CheckImageBytes(const std::string& bytes);
ImageCheck CheckImageFile(const std::wstring& path);
