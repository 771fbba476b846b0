// The batch scripts of an update: the swap that puts a staged new executable in place
// after the process has ended, and the watch over the new program's first start.
#pragma once

#include <windows.h>

#include <string>

// UTF-8 values for the scripts.
struct SwapScriptPaths {
    std::string staged;  // the new program, already complete, in the application's folder
    std::string app;     // the installed program
    std::string backup;  // where the installed program is kept
    std::string started; // written first thing, so the updater knows the script runs
    std::string trial;   // the trial marker of the new program (ota/trial.h)
    std::string undone;  // written with the version when an update is rolled back
    std::string log;     // the OTA log
    std::string version; // the new program's version, for the log and the undone marker
};

// Script text (CR LF lines) for UTF-8 paths. It marks that it started, waits about two
// seconds, copies the application to the backup and checks the copy's size, then
// renames the staged file over the application (a rename within one folder, so the
// application is at every moment either the old or the new program, whole). Both steps
// are retried for about two minutes while the old program may still hold its file;
// without a good backup nothing is replaced. A missing application is restored from
// the backup. With `restart` the application is started again either way; a swapped-in
// one is started on trial and watched as BuildTrialScript does. Without `restart`, a
// swap leaves the trial "unwatched" for the new program's first desktop start. Values
// are quoted and '%' doubled so no path character can end a command or expand a
// variable; a non-ASCII path switches the interpreter to UTF-8 first.
std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart);

// Script text that watches a new program on trial through its marker, about once a
// second: "passed" (or no marker at all) keeps it; "running" readable again means it
// ended before it came up, "timeout" that it gave up on itself, and "pending" (or
// "unwatched") for about 90 s that it never started. Then the backup is renamed back
// over it (retried for about two minutes while it is held), the undone marker written,
// "update rolled back: <reason>" appended to the log and the old program started.
// `staged` and `started` are not used.
std::string BuildTrialScript(const SwapScriptPaths& paths);

// A form of `path` the command interpreter reads the same under any code page: the
// path itself when it is ASCII, else its short (8.3) form when the volume has one.
// Falls back to `path` unchanged.
std::wstring ScriptSafePath(const std::wstring& path);

// Starts a script hidden through the shell. When `process` is given it receives the
// interpreter's handle (or null), which the caller closes. False when it did not start.
bool StartHiddenScript(const std::wstring& script, HANDLE* process);
