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
    return std::wstring(L"{\"available\":") + Bool(result.available) + L",\"version\":\"" +
           JsonEscape(result.version) + L"\"}";
}

void StartupOtaTask() {
    Sleep(8000);
    OtaCheckResult result = CheckOta();
    if (!result.available)
        return;
    EmitToPage("otaStatus", StartupStatusPayload(result));
}

void CheckOtaTask() {
    EmitToPage("otaStatus", CheckStatusPayload(CheckOta()));
}

void ApplyOtaTask() {
    // Refuse a second update before anything is fetched; the update steps take the same
    // lock again (it is recursive on this thread) and hold it while files are written.
    HANDLE lock = AcquireUpdateLock();
    if (!lock) {
        EmitToPage("ota", OtaErrorPayload(UpdateAlreadyRunningMessage));
        return;
    }
    OtaCheckResult result = CheckOta();
    if (result.available)
        ApplyUpdate(result);
    else
        EmitToPage("ota", L"{\"stage\":\"noop\"}");
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
