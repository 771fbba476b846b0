// The updater's log: ota.log in AppDataFolder(), one UTF-8 line per
// entry. Best effort: writing it never fails or stops the caller.
#pragma once

#include <cstddef>
#include <string>

// Full path of the log file; empty when the per-user folder cannot be determined.
std::wstring OtaLogPath();

// Appends `line` followed by CR LF.
void OtaLog(const std::string& line);

// A value from outside (the manifest, a downloaded program) as UTF-8 that cannot end or
// forge a line: control characters and Unicode line breaks become \n, \r, \t or \xNN /
// \uNNNN, and past `cap` characters the rest is replaced by "...".
std::string OneLine(const std::wstring& value, size_t cap);

// OneLine for the log, capped so a manifest cannot grow it without bound.
std::string LogValue(const std::wstring& value);
