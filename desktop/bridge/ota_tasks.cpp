#include "bridge/ota_tasks.h"

#include "bridge/emit.h"
#include "base/text.h"
#include "bridge/apply_update.h"
#include "ota/update.h"

#include <windows.h>

#include <system_error>
#include <thread>

namespace {

const wchar_t* Bool(bool value) {
    return value ? L"true" : L"false";
}

} // namespace

std::wstring StartupStatusPayload(const OtaCheckResult& result) {
    return L"{\"available\":true,\"version\":\"" + JsonEscape(result.version) + L"\",\"notes\":\"" +
           JsonEscape(result.notes) + L"\",\"force\":" + Bool(result.force) + L"}";
}

std::wstring CheckStatusPayload(const OtaCheckResult& result) {
    std::wstring payload = std::wstring(L"{\"available\":") + Bool(result.available) +
                           L",\"version\":\"" + JsonEscape(result.version) + L"\"";
    // A refused manifest is not "no update": the page says the offer was not trusted.
    if (!result.refused.empty())
        payload += L",\"error\":\"" + JsonEscape(RefusalMessage(result)) + L"\"";
    return payload + L"}";
}

// Nothing thrown (a failed allocation, say) may leave a task and end the process:
// it becomes the task's failure report.
template <typename Task, typename Failure> void Guarded(Task task, Failure failure) {
    try {
        task();
    } catch (...) {
        try {
            failure();
        } catch (...) {
        }
    }
}

void StartupOtaTask() {
    Guarded(
        [] {
            Sleep(8000);
            OtaCheckResult result = CheckOta();
            if (result.available)
                EmitToPage("otaStatus", StartupStatusPayload(result));
        },
        [] {});
}

void CheckOtaTask() {
    Guarded([] { EmitToPage("otaStatus", CheckStatusPayload(CheckOta())); },
            [] { EmitToPage("otaStatus", CheckStatusPayload(OtaCheckResult())); });
}

void ApplyOtaTask() {
    // Refuse a second update before anything is fetched; the update steps take the same
    // lock again (it is recursive on this thread) and hold it while files are written.
    HANDLE lock = AcquireUpdateLock();
    if (!lock) {
        EmitToPage("ota",
                   OtaErrorPayload(UpdateFailureMessage({UpdateOutcome::AlreadyRunning, {}})));
        return;
    }
    Guarded(
        [] {
            OtaCheckResult result = CheckOta();
            if (!result.refused.empty())
                EmitToPage("ota", OtaErrorPayload(RefusalMessage(result)));
            else if (result.available)
                ApplyUpdate(result);
            else
                EmitToPage("ota", L"{\"stage\":\"noop\"}");
        },
        [] { EmitToPage("ota", OtaErrorPayload(L"update failed: internal error")); });
    ReleaseUpdateLock(lock);
}

bool StartBackgroundTask(void (*task)()) {
    try {
        std::thread(task).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
