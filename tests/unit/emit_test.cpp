#include <doctest/doctest.h>

#include "base/globals.h"
#include "bridge/emit.h"

#include "allocations.h"

#include <windows.h>

#include <string>
#include <thread>

namespace {

HWND MakeWindow() {
    return CreateWindowExW(0, L"STATIC", L"emit-test", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Takes one WM_RUN_SCRIPT off this thread's queue and returns (and frees) its script.
std::wstring TakePostedScript(HWND window) {
    MSG msg;
    for (int i = 0; i < 200; ++i) {
        if (PeekMessageW(&msg, window, WM_RUN_SCRIPT, WM_RUN_SCRIPT, PM_REMOVE)) {
            auto* script = reinterpret_cast<std::wstring*>(msg.lParam);
            std::wstring text = *script;
            delete script;
            return text;
        }
        Sleep(5);
    }
    return L"<nothing posted>";
}

// A long payload, so the script needs its own heap buffer besides the string object.
const std::wstring LongPayload = L"{\"message\":\"" + std::wstring(200, L'x') + L"\"}";

} // namespace

TEST_CASE("event scripts have the fixed shape") {
    CHECK(BuildEmitScript("x", L"") == L"window.__ovra && window.__ovra.emit('x', null);");
    CHECK(BuildEmitScript("hostReady", L"{\"version\":\"1.0.4\"}") ==
          L"window.__ovra && window.__ovra.emit('hostReady', {\"version\":\"1.0.4\"});");
    // The payload goes in verbatim: the producer already escaped its strings.
    CHECK(BuildEmitScript("ota", L"{\"p\":\"a\\\\b'\"}") ==
          L"window.__ovra && window.__ovra.emit('ota', {\"p\":\"a\\\\b'\"});");
}

TEST_CASE("events posted from another thread reach the window in order") {
    MainWindow = MakeWindow();
    REQUIRE(MainWindow);
    std::thread([] {
        EmitToPage("ota", L"{\"stage\":\"verify\"}");
        EmitToPage("ota", L"{\"stage\":\"apply\"}");
    }).join();
    CHECK(TakePostedScript(MainWindow) ==
          L"window.__ovra && window.__ovra.emit('ota', {\"stage\":\"verify\"});");
    CHECK(TakePostedScript(MainWindow) ==
          L"window.__ovra && window.__ovra.emit('ota', {\"stage\":\"apply\"});");
    DestroyWindow(MainWindow);
    MainWindow = nullptr;
}

TEST_CASE("an event that cannot be delivered is dropped without leaking") {
    MainWindow = nullptr;
    long before = LiveAllocations();
    EmitToPage("ota", LongPayload);
    CHECK(LiveAllocations() == before);

    // A window that no longer exists makes the post fail; the script must be freed.
    HWND gone = MakeWindow();
    REQUIRE(gone);
    DestroyWindow(gone);
    MainWindow = gone;
    before = LiveAllocations();
    EmitToPage("ota", LongPayload);
    CHECK(LiveAllocations() == before);
    MainWindow = nullptr;
}
