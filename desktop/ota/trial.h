// The trial of a freshly installed update. The swap leaves a marker beside the program
// ("<exe>.trial"); the program's first desktop start claims it and must show that it
// works (ShowTrialPassed) within TrialMs, or the script watching it puts the backup
// back and starts the old program, which learns of it through "<exe>.undone".
#pragma once

#include "ota/swap_script.h"

#include <cstdint>
#include <string>

// How long a program on trial has to come up before it ends itself as failed.
extern uint32_t TrialMs;

std::wstring TrialMarkerPath(const std::wstring& app);
std::wstring UndoneMarkerPath(const std::wstring& app);

std::wstring BackupPath(const std::wstring& app);

// Fills the values both scripts share for the program at `app` updated to `version`:
// the program, its backup, markers, log, lock and the system folder.
void SetScriptPaths(const std::wstring& app, const std::wstring& version, SwapScriptPaths& paths);

// At desktop start, once this process is the only instance: takes the version of an
// update undone before this start, and claims a trial of ExePath (waiting out the
// watcher's reads): marks it running and holds the marker until the trial ends. A
// "pending" trial is trusted only while its script still holds the lock; a trial left
// "unwatched" by --apply-ota, or whose watcher has gone (also one that failed with
// nobody left to roll it back), gets a watching script from this process, or is dropped
// when there is no backup or no watcher can be started. A passed trial's marker and
// backup are removed. A marker that cannot be claimed or written counts as passed.
void StartUpdateTrial();
// The program works: its page has loaded. Ends the trial as passed; does nothing
// without one.
void ShowTrialPassed();

// The version of the update rolled back before this start, else empty. Checks of this
// run do not offer it again.
std::wstring UndoneUpdateVersion();
