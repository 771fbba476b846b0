#include "bridge/trial_report.h"

#include "bridge/apply_update.h"
#include "bridge/emit.h"
#include "ota/trial.h"

void ReportPageUp() {
    ShowTrialPassed();
    // Called on the UI thread only; a reload raises it again.
    static bool told = false;
    std::wstring undone = UndoneUpdateVersion();
    if (told || undone.empty())
        return;
    told = true;
    EmitToPage("ota", OtaErrorPayload(L"update to " + undone + L" failed and was undone"));
}
