// The batch scripts of an update: the swap that puts a staged new executable in place
// after the process has ended, and the watch over the new program's first start.
#pragma once

#include <windows.h>

#include <cstdint>
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
    std::string lock;    // held open by a running script (UpdateLockPath)
    std::string system;  // the system folder; %SystemRoot%\System32 when empty
};

// How long a new program may leave its trial marker unclaimed before the watcher looks
// whether it runs at all.
extern uint32_t UnclaimedTrialSeconds;

// The version as the scripts write it (in the log and the undone marker): only plain
// version characters, at most 64 of them.
std::string ScriptVersion(const std::string& version);

// Script text (CR LF lines) for UTF-8 paths. It holds the lock throughout (a second
// script for the same program gives up at once: "busy" in its start mark, its own
// staged file removed, a log line), marks that it started, waits about two seconds,
// copies the application to the backup and checks the copy's size, then renames the
// staged file over the application (a rename within one folder, so the application is
// at every moment either the old or the new program, whole). Both steps are retried for
// about two minutes while the old program may still hold its file; without a good
// backup nothing is replaced. A backup is kept, not refreshed, while the installed
// program has not passed its own trial. A missing application is restored from the
// backup; with no application to back up, the new one goes in without a trial and a
// stale backup goes. Every give-up is logged. With `restart` the application is started
// again either way; a swapped-in one is started on trial and watched as BuildTrialScript
// does. Without `restart`, a swap leaves the trial "unwatched" for the new program's
// first desktop start. Values are quoted and '%' doubled so no path character can end a
// command or expand a variable; a non-ASCII path switches the interpreter to UTF-8
// first. System programs are run by full path from the system folder.
std::string BuildSwapScript(const SwapScriptPaths& paths, bool restart);

// Script text that watches a new program on trial through its marker, about once a
// second, holding the lock: "passed" (or no marker at all) keeps it and removes the
// backup; "running" readable again means it ended before it came up, "timeout" that it
// gave up on itself, and "pending" (or "unwatched") for UnclaimedTrialSeconds that it
// never started, unless the program file is in use: then it runs, unclaimed, and stays
// on trial for its next start. A roll-back renames the backup over it (retried for about
// two minutes while it is held), writes the undone marker, appends "update rolled back:
// <reason>" to the log and starts the old program. `staged` and `started` are not used.
std::string BuildTrialScript(const SwapScriptPaths& paths);

// A form of `path` the command interpreter reads the same under any code page: the
// path itself when it is ASCII, else its short (8.3) form when the volume has one.
// Falls back to `path` unchanged.
std::wstring ScriptSafePath(const std::wstring& path);

// Starts a script hidden with the system's command interpreter (by full path, without
// its AutoRun commands, from the system folder). When `process` is given it receives
// the interpreter's handle, which the caller closes. False when it did not start.
bool StartHiddenScript(const std::wstring& script, HANDLE* process);
