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

// Fills the trial values of a script for the program at `app` updated to `version`.
void SetTrialPaths(const std::wstring& app, const std::wstring& version, SwapScriptPaths& paths);

// At desktop start, once this process is the only instance: takes the version of an
// update undone before this start, and claims a pending trial of ExePath: marks it
// running and holds the marker until the trial ends; for a trial nobody watches yet
// (left by --apply-ota) it starts the watching script first. A marker that cannot be
// claimed or written, or a watcher that cannot be started, counts as passed.
void StartUpdateTrial();

// The program works: the page has loaded, or the window shows why it cannot. Ends the
// trial as passed; does nothing without one.
void ShowTrialPassed();

// The version of the update rolled back before this start, else empty. Checks of this
// run do not offer it again.
std::wstring UndoneUpdateVersion();
