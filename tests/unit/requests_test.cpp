#include <doctest/doctest.h>

#include "base/globals.h"
#include "bridge/ota_tasks.h"
#include "bridge/requests.h"
#include "bridge/apply_update.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// A stand-in main window that keeps every script posted to it and notes WM_CLOSE.
std::vector<std::wstring> Scripts;
int CloseRequests = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_RUN_SCRIPT) {
        std::wstring* script = reinterpret_cast<std::wstring*>(lParam);
        Scripts.push_back(*script);
        delete script;
        return 0;
    }
    if (message == WM_CLOSE) {
        ++CloseRequests;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct RecordingWindow {
    RecordingWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"BridgeTestWindow";
        RegisterClassW(&wc);
        MainWindow = CreateWindowExW(0, L"BridgeTestWindow", L"bridge test", WS_OVERLAPPEDWINDOW, 0,
                                     0, 900, 600, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(MainWindow, SW_SHOW);
        Scripts.clear();
        CloseRequests = 0;
    }
    ~RecordingWindow() {
        DestroyWindow(MainWindow);
        MainWindow = nullptr;
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
};

} // namespace

TEST_CASE("host information carries the version, API base and the escaped exe path") {
    ExePath = L"C:\\Program Files\\OVRA \"Z\"\\OVRA-Zirer.exe";
    std::wstring payload = HostInfoPayload();
    CHECK(payload == std::wstring(L"{\"version\":\"") + AppVersion +
                         L"\",\"apiBase\":"
                         L"\"" OVRA_API_BASE L"\",\"product\":\"OVRA-Zirer\",\"exe\":\"C:"
                         L"\\\\Program Files\\\\OVRA "
                         L"\\\"Z\\\"\\\\OVRA-Zirer.exe\"}");
}

TEST_CASE("update status payloads keep notes and versions intact") {
    OtaCheckResult r;
    r.version = L"1.0.5";
    r.notes = L"修复 \"引号\"\\ 和\n换行";
    r.available = true;
    r.force = true;
    CHECK(
        StartupStatusPayload(r) ==
        L"{\"available\":true,\"version\":\"1.0.5\",\"notes\":\"修复 \\\"引号\\\"\\\\ 和\\n换行\","
        L"\"force\":true}");
    r.available = false;
    CHECK(CheckStatusPayload(r) == L"{\"available\":false,\"version\":\"1.0.5\"}");
    CHECK(OtaErrorPayload(L"sha256 mismatch") ==
          L"{\"stage\":\"error\",\"message\":\"sha256 mismatch\"}");
}

TEST_CASE("only web and mail links may be opened") {
    CHECK(IsOpenableUrl(L"https://example.com/a?b=c"));
    CHECK(IsOpenableUrl(L"HTTP://example.com"));
    CHECK(IsOpenableUrl(L"mailto:someone@example.com"));
    CHECK_FALSE(IsOpenableUrl(L""));
    CHECK_FALSE(IsOpenableUrl(L"C:\\Windows\\System32\\calc.exe"));
    CHECK_FALSE(IsOpenableUrl(L"file:///C:/Windows/System32/calc.exe"));
    CHECK_FALSE(IsOpenableUrl(L"calc"));
    CHECK_FALSE(IsOpenableUrl(L"javascript:alert(1)"));
    CHECK_FALSE(IsOpenableUrl(L"\\\\server\\share\\run.bat"));
    CHECK_FALSE(IsOpenableUrl(L"https://example.com/\r\nx"));
}

TEST_CASE("requests are matched exactly and answered on the window") {
    RecordingWindow w;

    DispatchBridgeMessage(L"{\"cmd\":\"ready\"}");
    DispatchBridgeMessage(L"{ \"cmd\" : \"getHostInfo\" }");
    w.Pump();
    REQUIRE(Scripts.size() == 2);
    CHECK(Scripts[0] == Scripts[1]);
    CHECK(Scripts[0].rfind(L"window.__ovra && window.__ovra.emit('hostInfo', {", 0) == 0);

    Scripts.clear();
    DispatchBridgeMessage(L"hello");
    DispatchBridgeMessage(L"{\"cmd\":\"Minimize\"}");
    DispatchBridgeMessage(L"{\"cmd\":\"\"}");
    DispatchBridgeMessage(L"{\"other\":\"close\"}");
    w.Pump();
    CHECK(Scripts.empty());
    CHECK(CloseRequests == 0);
    CHECK_FALSE(IsIconic(MainWindow));

    DispatchBridgeMessage(L"{\"cmd\":\"maximize\"}");
    CHECK(IsZoomed(MainWindow));
    DispatchBridgeMessage(L"{\"cmd\":\"maximize\"}");
    CHECK_FALSE(IsZoomed(MainWindow));

    DispatchBridgeMessage(L"{\"cmd\":\"minimize\",\"n\":3}");
    CHECK(IsIconic(MainWindow));

    DispatchBridgeMessage(L"{\"cmd\":\"close\"}");
    w.Pump();
    CHECK(CloseRequests == 1);
}
