// Applying an available update: download into the temporary folder, check it, stage
// it beside the installed program, write the swap script and start it. The console
// command and the page share these steps and differ only in how they report and how
// they end.
#pragma once

#include "ota/ota_check.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

enum class UpdateOutcome {
    Launched,
    DownloadFailed,
    DigestMismatch,
    AlreadyRunning,
    WrongVersion, // the download does not report the version on offer
    NotApplied,   // it could not be put in place: folder, staging or script failed
};

struct UpdateResult {
    UpdateOutcome outcome;
    std::wstring detail; // what went wrong, for WrongVersion and NotApplied
};

// Reporting hooks, called on the updating thread in this order; any may be empty.
struct UpdateReport {
    std::function<void()> downloading; // before the download starts
    std::function<void(int)> progress; // whole percentages from the download
    std::function<void()> verifying;   // download complete, before the digest check
    std::function<void()> launching;   // script written, just before it is started
};

// The files of one update run. The names carry a fresh GUID, so two runs (page and
// console, two consoles, a restarted program) never write each other's files.
struct UpdatePaths {
    std::wstring download; // in the temporary folder
    std::wstring script;   // in the temporary folder
    std::wstring started;  // the script writes it first thing
    std::wstring staged;   // beside the installed program
};
// False when the temporary folder cannot be determined.
bool GetUpdatePaths(const std::wstring& appPath, UpdatePaths& paths);

// How long the downloaded program may take to answer --version, and how long the
// script may take to show that it runs.
extern uint32_t VersionCheckMs;
extern uint32_t ScriptStartMs;

// Only one update may run at a time in the user's session, whichever process or thread
// starts it. Returns null when another holds it.
HANDLE AcquireUpdateLock();
void ReleaseUpdateLock(HANDLE lock);

// The file a swap or watching script keeps open for its whole life, beside the program.
std::wstring ScriptLockPath(const std::wstring& app);
// True while a script holds the lock of the program at `app`. Looks for up to `ms`,
// since a script lets go of it for a moment to start the program.
bool ScriptRunning(const std::wstring& app, uint32_t ms = 0);

// At desktop start, when no update runs: removes what updates that ended abruptly left
// (staged programs beside the program, downloads in the temporary folder, the lock).
void RemoveUpdateLeftovers();

// Runs the whole sequence for a result whose `available` is true, for the program at
// ExePath; `restart` makes the script start the application again. Holds the update
// lock throughout; when another update holds it or a script still works on the
// program, returns AlreadyRunning having touched nothing of theirs. Every outcome but Launched
// leaves the installed program as it was.
UpdateResult RunUpdate(const OtaCheckResult& result, bool restart, const UpdateReport& report);

// The error text the console and the page show for an outcome other than Launched.
std::wstring UpdateFailureMessage(const UpdateResult& result);
