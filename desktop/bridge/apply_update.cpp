#include "bridge/apply_update.h"

#include "base/globals.h"
#include "bridge/emit.h"
#include "base/text.h"
#include "ota/update.h"

#include <windows.h>

const wchar_t* const UpdateAlreadyRunningMessage = L"another update is already running";

std::wstring OtaErrorPayload(const std::wstring& message) {
    return L"{\"stage\":\"error\",\"message\":\"" + JsonEscape(message) + L"\"}";
}

void ReportDownloadProgress(int pct) {
    EmitToPage("ota", L"{\"stage\":\"download\",\"pct\":" + std::to_wstring(pct) + L"}");
}

void ApplyUpdate(const OtaCheckResult& result) {
    UpdateReport report;
    report.downloading = [] { EmitToPage("ota", L"{\"stage\":\"download\",\"pct\":0}"); };
    report.progress = ReportDownloadProgress;
    report.verifying = [] { EmitToPage("ota", L"{\"stage\":\"verify\"}"); };
    report.launching = [] { EmitToPage("ota", L"{\"stage\":\"apply\"}"); };
    switch (RunUpdate(result, true, report)) {
    case UpdateOutcome::Launched:
        // Posted after the stage events, so the page sees them before the window closes.
        PostMessageW(MainWindow, WM_CLOSE, 0, 0);
        break;
    case UpdateOutcome::DownloadFailed:
        EmitToPage("ota", OtaErrorPayload(L"download failed"));
        break;
    case UpdateOutcome::DigestMismatch:
        EmitToPage("ota", OtaErrorPayload(L"sha256 mismatch"));
        break;
    case UpdateOutcome::AlreadyRunning:
        EmitToPage("ota", OtaErrorPayload(UpdateAlreadyRunningMessage));
        break;
    }
}
