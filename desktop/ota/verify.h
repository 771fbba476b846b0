// Checks a downloaded file against the digest from the manifest.
#pragma once

#include <string>

enum class DigestCheck { Matched, Mismatched };

// Windows PowerShell by its full path in the system folder, so nothing in the
// application's own folder or the search path can stand in for it.
std::wstring PowerShellPath();

// The verifier command line. `path` goes between single quotes with every kind of
// single quote PowerShell recognises doubled; `sha256` must already be plain hex.
std::wstring VerifierCommandLine(const std::wstring& powershell, const std::wstring& path,
                                 const std::wstring& sha256);

// Anything but exactly 64 hex digits is a mismatch and starts nothing. PowerShell
// decides by its exit code within 60 s; if it cannot be started at all, the digest is
// computed here instead, so a file is never passed unchecked.
DigestCheck VerifyDigest(const std::wstring& path, const std::wstring& sha256);
