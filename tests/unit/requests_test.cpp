#include <doctest/doctest.h>

#include "base/globals.h"
#include "bridge/ota_tasks.h"
#include "bridge/requests.h"
#include "bridge/apply_update.h"
#include "bridge/external_links.h"

#include <windows.h>

#include <atomic>
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

    // Everything a real address may hold, international names and text included.
    CHECK(IsOpenableUrl(L"https://user@example.com:8443/p/a;b,c?q=1&r=%E4%BD%A0#top"));
    CHECK(IsOpenableUrl(L"http://[::1]:8790/ai/v1"));
    CHECK(IsOpenableUrl(L"https://\u4f8b\u5b50.\u4e2d\u56fd/\u8def?\u8bcd=\u4f60\u597d"));
    CHECK(IsOpenableUrl(L"mailto:a@example.com,b.c@example.org?subject=Hi%20there&body=x"));
    const std::wstring base = L"https://example.com/";
    CHECK(IsOpenableUrl(base + std::wstring(2048 - base.size(), L'a')));
    CHECK_FALSE(IsOpenableUrl(base + std::wstring(2049 - base.size(), L'a')));

    // What a handler registered as "%1" would take for more than one argument, what cmd
    // reads as its own syntax, and what shows the user another address than the real one.
    for (const wchar_t* url :
         {L"https://example.com/a b", L"https://example.com/\"x", L"https://example.com/'x",
          L"https://example.com/<b>", L"https://example.com/x>y", L"https://example.com/^x",
          L"https://example.com/a|b", L"https://example.com/a\\b", L"https://example.com/\u3000",
          L"https://example.com/\u00a0", L"https://example.com/\u202egnp.exe",
          L"https://example.com/\x7f", L"https://example.com/\x85", L"https://example.com/%zz",
          L"https://example.com/%PATH%", L"https://example.com/%4", L"https://example.com/\xd800",
          L"mailto:a@example.com\tcc", L"mailto:\"a\"@example.com"})
        CHECK_FALSE(IsOpenableUrl(url));

    // Shaped like an address without being one.
    for (const wchar_t* url :
         {L"https://", L"http:///etc/passwd", L"https://:443/", L"https://user@/",
          L"https://example.com:99999/", L"https://example.com:8o/", L"https://[::1/",
          L"https://[]/", L"https:example.com", L"httpx://example.com", L"https://a#b#c",
          L"mailto:", L"mailto:nobody", L"mailto:@example.com", L"mailto:a@", L"mailto:?subject=x",
          L"mailto:a@example.com,", L"mailto:a@b@example.com"})
        CHECK_FALSE(IsOpenableUrl(url));
}

TEST_CASE("links reach the shell from a thread of their own, a few at a time") {
    static std::atomic<int> opened{0}, onCaller{0};
    static DWORD caller = GetCurrentThreadId();
    static HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto previous = OpenLinkWithShell;
    // A handler slow to start: none of that time may be the caller's.
    OpenLinkWithShell = [](const std::wstring&) {
        if (GetCurrentThreadId() == caller)
            ++onCaller;
        ++opened;
        WaitForSingleObject(release, 10000);
    };
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 6; ++i)
        OpenExternal(L"https://example.com/" + std::to_wstring(i));
    OpenExternal(L"https://example.com/a b");
    CHECK(GetTickCount64() - start < 1000);
    for (int i = 0; i < 100 && opened < 4; ++i)
        Sleep(10);
    Sleep(100);
    // Four wait for their handler; the links asked for meanwhile are dropped.
    CHECK(opened == 4);
    CHECK(onCaller == 0);
    SetEvent(release);
    for (int i = 0; i < 100 && opened < 5; ++i) {
        Sleep(10);
        OpenExternal(L"https://example.com/later");
    }
    CHECK(opened >= 5);
    OpenLinkWithShell = previous;
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
