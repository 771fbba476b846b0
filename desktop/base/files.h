// Files and the per-user folder the program keeps its data in.
#pragma once

#include <cstddef>
#include <string>

// True for an existing file; false for a folder or nothing at all.
bool FileExists(const std::wstring& path);

// Creates or truncates `path` and writes all `size` bytes; true only when every byte
// was written.
bool WriteWholeFile(const std::wstring& path, const void* data, size_t size);
inline bool WriteTextFile(const std::wstring& path, const std::string& bytes) {
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

// The first word an open file holds at its current position (at most 63 bytes, without
// the trailing line break or blanks); empty when it cannot be read.
std::string ReadLeadingWord(void* file);

// "<local application data>\OVRA-Zirer", created when missing. Falls back to the same
// folder under the per-user temporary folder, the nearest place that is surely
// writable, when the local application data folder cannot be determined; empty only
// when neither can.
std::wstring AppDataFolder();
