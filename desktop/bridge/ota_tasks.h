// Background update tasks. Each runs on its own detached thread and reaches the page
// only through events.
#pragma once

#include "ota/ota_check.h"

#include <string>

// Once, 8 s after start: tells the page about an available update, else stays silent.
void StartupOtaTask();
// Runs one check and answers every "checkOta" request that joined it, each with one
// "otaStatus" event.
void CheckOtaTask();
// A "checkOta" request: joins the check under way, takes the answer of one that ended
// a moment ago, or starts one. Every request gets exactly one answer, also when no
// thread can run the check.
void RequestOtaCheck();
// Answers an "applyOta" request: a fresh check, then the update or the "noop" stage.
void ApplyOtaTask();

// Starts a task on a new detached thread; false when no thread could be started.
bool StartBackgroundTask(void (*task)());
// The program is ending: tells the tasks to stop and waits up to `ms` for all of them to
// return. False when some still run.
bool StopBackgroundTasks(unsigned long ms);

// "otaStatus" payloads: the start-up form carries notes and force, the check form not.
std::wstring StartupStatusPayload(const OtaCheckResult& result);
std::wstring CheckStatusPayload(const OtaCheckResult& result);
