// Applying an available update: download into the temporary folder, check it, write
// the swap script and start it. The console command and the page share these steps and
// differ only in how they report and how they end.
#pragma once

#include "ota/ota_check.h"

#include <windows.h>

#include <functional>
#include <string>

enum class UpdateOutcome { Launched, DownloadFailed, DigestMismatch, AlreadyRunning };

// Reporting hooks, called on the updating thread in this order; any may be empty.
struct UpdateReport {
    std::function<void()> downloading; // before the download starts
    std::function<void(int)> progress; // whole percentages from the download
    std::function<void()> verifying;   // download complete, before the digest check
    std::function<void()> launching;   // script written, just before it is started
};

// The fixed update files in the user's temporary folder.
struct UpdatePaths {
    std::wstring download;
    std::wstring script;
};
// False when the temporary folder cannot be determined.
bool GetUpdatePaths(UpdatePaths& paths);

// Only one update may run at a time in the user's session, whichever process or thread
// starts it: the files it writes have fixed names. Returns null when another holds it.
HANDLE AcquireUpdateLock();
void ReleaseUpdateLock(HANDLE lock);

// Runs the whole sequence for a result whose `available` is true; `restart` makes the
// script start the application again. Holds the update lock throughout; when another
// update holds it, returns AlreadyRunning having touched nothing.
UpdateOutcome RunUpdate(const OtaCheckResult& result, bool restart, const UpdateReport& report);
