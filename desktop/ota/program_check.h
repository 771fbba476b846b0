// Checks on a downloaded program before it may replace the installed one.
#pragma once

#include <cstdint>
#include <string>

enum class ImageCheck {
    Complete,   // headers whole, every section's raw data inside the file
    Truncated,  // a Windows executable whose end is missing: a cut-off transfer
    NotProgram, // no Windows executable at all
};

// Reads the PE headers and the section table of `bytes` (the whole file).
ImageCheck CheckImageBytes(const std::string& bytes);
ImageCheck CheckImageFile(const std::wstring& path);

// Starts `program` with --version, hidden and with its output piped, and returns the
// first line it prints (without the line end). Empty when it cannot be started, prints
// nothing or is still running after `timeoutMs` (it is then ended).
std::string ReportedVersion(const std::wstring& program, uint32_t timeoutMs);
