#include <doctest/doctest.h>

#include "base/globals.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"
#include "browser/creation_retry.h"
#include "browser/loader.h"

#include <windows.h>

#include <vector>

namespace {

const HRESULT Busy = HRESULT_FROM_WIN32(ERROR_BUSY);
const HRESULT WrongState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

int Starts = 0;
std::vector<HRESULT> Failures;

HRESULT STDMETHODCALLTYPE CountStart(PCWSTR, PCWSTR, ICoreWebView2EnvironmentOptions*,
                                     ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*) {
    ++Starts;
    return S_OK;
}

// Runs this thread's timers for `ms`.
void Pump(DWORD ms) {
    ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
}

// A start-up sequence whose environment creation only counts its starts; the test
// completes each one itself.
void BeginSequence() {
    MainWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    REQUIRE(MainWindow);
    BrowserStartup startup;
    startup.dataFolder = L"creation-retry-test";
    startup.failed = [](BrowserStep step, HRESULT hr) {
        CHECK(step == BrowserStep::Environment);
        Failures.push_back(hr);
    };
    CreateBrowser(startup);
    CreateEnvironmentEntry = CountStart;
    Starts = 0;
    Failures.clear();
}

void EndSequence() {
    TearDownBrowser();
    DestroyWindow(MainWindow);
    MainWindow = nullptr;
}

} // namespace

TEST_CASE("a held data folder is tried again a moment later; other failures count at once") {
    BeginSequence();
    CHECK(OnEnvironmentCreated(Busy, nullptr) == S_OK);
    CHECK(Starts == 0);
    Pump(1000);
    CHECK(Starts == 1);
    CHECK(OnEnvironmentCreated(WrongState, nullptr) == S_OK);
    Pump(1000);
    CHECK(Starts == 2);
    CHECK(Failures.empty());

    for (HRESULT other : {E_FAIL, E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}) {
        OnEnvironmentCreated(other, nullptr);
        Pump(600);
        CHECK(Starts == 2);
    }
    CHECK(Failures ==
          std::vector<HRESULT>{E_FAIL, E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)});
    EndSequence();
}

TEST_CASE("20 s after the sequence began a held folder counts as a failure, and the box follows") {
    BeginSequence();
    NoteCreationStart(GetTickCount64() - 19000);
    OnEnvironmentCreated(Busy, nullptr);
    Pump(600);
    CHECK(Starts == 1);
    CHECK(Failures.empty());

    NoteCreationStart(GetTickCount64() - 20000);
    OnEnvironmentCreated(Busy, nullptr);
    Pump(600);
    CHECK(Starts == 1);
    CHECK(Failures == std::vector<HRESULT>{Busy});
    EndSequence();
}

TEST_CASE("without its window a held folder is not waited for") {
    NoteCreationStart();
    MainWindow = nullptr;
    CHECK_FALSE(RetryCreationLater(Busy, [] {}));
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    DestroyWindow(gone);
    MainWindow = gone;
    CHECK_FALSE(RetryCreationLater(Busy, [] {}));
    MainWindow = nullptr;
}
