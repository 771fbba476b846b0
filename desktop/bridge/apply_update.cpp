#include "bridge/apply_update.h"

#include "base/globals.h"
#include "bridge/emit.h"
#include "base/text.h"
#include "ota/update.h"

#include <windows.h>

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
    UpdateResult outcome = RunUpdate(result, true, report);
    if (outcome.outcome == UpdateOutcome::Launched) {
        // Posted after the stage events, so the page sees them before the window closes.
        PostMessageW(MainWindow, WM_CLOSE, 0, 0);
        return;
    }
    EmitToPage("ota", OtaErrorPayload(UpdateFailureMessage(outcome)));
}
