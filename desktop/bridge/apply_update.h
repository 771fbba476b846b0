// The page-started update: the shared update steps, reported as "ota" events in the
// page, ending with the main window closed so the swap script can replace the exe.
#pragma once

#include "ota/ota_check.h"

#include <string>

// Progress from the download, one event per call.
void ReportDownloadProgress(int pct);

// Runs on a background thread for a result whose `available` is true.
void ApplyUpdate(const OtaCheckResult& result);

// The "ota" error event's payload for a message.
std::wstring OtaErrorPayload(const std::wstring& message);
