// Background update tasks. Each runs on its own detached thread and reaches the page
// only through events.
#pragma once

#include "ota/ota_check.h"

#include <string>

// Once, 8 s after start: tells the page about an available update, else stays silent.
void StartupOtaTask();
// Answers a "checkOta" request with exactly one "otaStatus" event.
void CheckOtaTask();
// Answers an "applyOta" request: a fresh check, then the update or the "noop" stage.
void ApplyOtaTask();

// Starts a task on a new detached thread; false when no thread could be started.
bool StartBackgroundTask(void (*task)());

// "otaStatus" payloads: the start-up form carries notes and force, the check form not.
std::wstring StartupStatusPayload(const OtaCheckResult& result);
std::wstring CheckStatusPayload(const OtaCheckResult& result);
