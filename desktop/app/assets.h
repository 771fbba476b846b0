#pragma once

#include <cstdint>
#include <string>

// One page file carried in the executable's read-only data.
struct AssetEntry {
    const char* name; // UTF-8, relative to the page folder
    const unsigned char* data;
    uint64_t length;
};

extern const AssetEntry PageAssets[3];
extern const unsigned char* const LoaderLibraryData;
extern const uint64_t LoaderLibraryLength;

// Writes the page files into "ui" and the loader library next to the executable, on
// every start. Failures are silent: callers notice missing files by themselves.
void ExtractAssets();

// The page to show: the extracted one, else the source tree's copy (unchecked).
std::wstring ChoosePagePath(const std::wstring& exeDir);
