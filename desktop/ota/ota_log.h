// The updater's log: ota.log in AppDataFolder(), one UTF-8 line per
// entry. Best effort: writing it never fails or stops the caller.
#pragma once

#include <string>

// Full path of the log file; empty when the per-user folder cannot be determined.
std::wstring OtaLogPath();

// Appends `line` followed by CR LF.
void OtaLog(const std::string& line);
