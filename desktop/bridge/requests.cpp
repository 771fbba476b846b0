#include "bridge/requests.h"

#include "base/globals.h"
#include "base/json.h"
#include "base/text.h"
#include "bridge/emit.h"
#include "bridge/ota_tasks.h"
#include "bridge/apply_update.h"
#include "bridge/external_links.h"

#include <windows.h>

namespace {

void StartApply() {
    if (!StartBackgroundTask(ApplyOtaTask))
        EmitToPage("ota", OtaErrorPayload(L"the update could not be started"));
}

} // namespace

std::wstring HostInfoPayload() {
    return std::wstring(L"{\"version\":\"") + AppVersion +
           L"\",\"apiBase\":\"" OVRA_API_BASE L"\",\"product\":\"OVRA-Zirer\",\"exe\":\"" +
           JsonEscape(ExePath) + L"\"}";
}

void DispatchBridgeMessage(const std::wstring& message) {
    std::string text = WideToUtf8(message);
    std::wstring cmd = JsonGetString(text, "cmd");
    // The page's start-up posts "ready" and then "getHostInfo", so host information goes
    // out twice. Both are answered alike on purpose: either may also come alone (after a
    // reload, or whenever the page wants the information again), and the page takes a
    // repeated answer just as it takes the first.
    if (cmd == L"ready" || cmd == L"getHostInfo") {
        EmitToPage("hostInfo", HostInfoPayload());
    } else if (cmd == L"checkOta") {
        RequestOtaCheck();
    } else if (cmd == L"applyOta") {
        StartApply();
    } else if (cmd == L"openExternal") {
        OpenExternal(JsonGetString(text, "url"));
    } else if (cmd == L"minimize") {
        ShowWindow(MainWindow, SW_MINIMIZE);
    } else if (cmd == L"maximize") {
        ShowWindow(MainWindow, IsZoomed(MainWindow) ? SW_RESTORE : SW_SHOWMAXIMIZED);
    } else if (cmd == L"close") {
        PostMessageW(MainWindow, WM_CLOSE, 0, 0);
    }
}
