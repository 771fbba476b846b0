// The batch script that replaces the executable after the process has ended.
#pragma once

#include <string>

// Script text (CR LF lines) for UTF-8 paths: waits about two seconds, backs the
// application up, then retries the copy of the download over it for about 30 seconds
// while the old process may still hold it. The download is deleted only once the copy
// succeeded. With `restart` the application is started again either way. Values are
// quoted and '%' doubled so no path character can end a command or expand a variable;
// a non-ASCII path switches the interpreter to UTF-8 first.
std::string BuildSwapScript(const std::string& downloadPath, const std::string& appPath,
                            const std::string& backupPath, bool restart);

// A form of `path` the command interpreter reads the same under any code page: the
// path itself when it is ASCII, else its short (8.3) form when the volume has one.
// Falls back to `path` unchanged.
std::wstring ScriptSafePath(const std::wstring& path);
