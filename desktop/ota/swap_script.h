// The batch script that puts a staged new executable in place after the process has
// ended.
#pragma once

#include <string>

struct SwapScriptPaths {
    std::string staged;  // the new program, already complete, in the application's folder
    std::string app;     // the installed program
    std::string backup;  // where the installed program is kept
    std::string started; // written first thing, so the updater knows the script runs
};

// Script text (CR LF lines) for UTF-8 paths. It marks that it started, waits about two
// seconds, copies the application to the backup and checks the copy's size, then
// renames the staged file over the application (a rename within one folder, so the
// application is at every moment either the old or the new program, whole). Both steps
// are retried for about two minutes while the old program may still hold its file;
// without a good backup nothing is replaced. A missing application is restored from
// the backup. With `restart` the application is started again either way. Values are
// quoted and '%' doubled so no path character can end a command or expand a variable;
// a non-ASCII path switches the interpreter to UTF-8 first.
std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart);

// A form of `path` the command interpreter reads the same under any code page: the
// path itself when it is ASCII, else its short (8.3) form when the volume has one.
// Falls back to `path` unchanged.
std::wstring ScriptSafePath(const std::wstring& path);
