// Starting other programs and waiting for what they say.
#pragma once

#include <cstdint>
#include <string>

// The system folder (GetSystemDirectory), where system programs are started from by
// full path; empty when it cannot be determined.
std::wstring SystemFolder();

// Starts `program` with --version, hidden and with its output piped, and returns the
// first line it prints (without the line end). Empty when it cannot be started, prints
// nothing or is still running after `timeoutMs` (it is then ended).
std::string ReportedVersion(const std::wstring& program, uint32_t timeoutMs);
