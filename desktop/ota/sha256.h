// SHA-256 digests of files through the system's cryptography API.
#pragma once

#include <string>

// Lower-case hexadecimal digest of the file's contents; empty when it cannot be read.
std::wstring Sha256OfFile(const std::wstring& path);

// Exactly 64 hexadecimal digits, either case.
bool IsSha256Hex(const std::wstring& text);

// Same digest, ignoring letter case.
bool SameDigest(const std::wstring& a, const std::wstring& b);
