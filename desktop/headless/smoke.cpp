#include "headless/smoke.h"

#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"

#include <windows.h>
#include <objbase.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>

namespace {

bool SmokeNavDone = false;
bool SmokeNavSuccess = false;

constexpr ULONGLONG SmokeTimeLimitMs = 15000;

// Callers read these lines through a pipe, so each goes out as soon as it is known.
void Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void EndRun(bool success) {
    SmokeNavDone = true;
    SmokeNavSuccess = success;
}

void PumpUntilDone() {
    ULONGLONG start = GetTickCount64();
    while (!SmokeNavDone) {
        if (GetTickCount64() - start >= SmokeTimeLimitMs)
            return;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
}

int Finish(int code) {
    TearDownBrowser();
    CoUninitialize();
    return code;
}

void OnStepReady(BrowserStep step) {
    if (step == BrowserStep::Loader)
        Report("SMOKE loader OK\n");
    else if (step == BrowserStep::Environment)
        Report("SMOKE env OK\n");
    else
        Report("SMOKE controller OK\n");
}

void OnStepFailed(BrowserStep step, HRESULT hr) {
    Report("SMOKE FAIL: %s hr=0x%08X\n", step == BrowserStep::Environment ? "env" : "controller",
           static_cast<unsigned>(hr));
    EndRun(false);
}

} // namespace

int RunSmokeTest() {
    // The lines end in a bare line feed; text mode would add carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring page = JoinPath(ExeDir, L"ui\\index.html");
    if (!FileExists(page)) {
        Report("SMOKE FAIL: ui\\index.html missing after extract\n");
        return Finish(2);
    }
    Report("SMOKE ui extracted OK\n");
    StartUrl = FileUrlFromPath(page);

    MainWindow = CreateWindowExW(0, L"STATIC", L"OVRA-Smoke", 0, 0, 0, 800, 600, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    BrowserStartup startup;
    startup.dataFolder = L"WebView2-smoke";
    startup.ready = OnStepReady;
    startup.failed = OnStepFailed;
    startup.navigated = OnSmokeNavigationCompleted;
    HRESULT hr = CreateBrowser(startup);
    if (FAILED(hr)) {
        Report("SMOKE FAIL: CreateEnv hr=0x%08X\n", static_cast<unsigned>(hr));
        return Finish(4);
    }

    PumpUntilDone();
    if (!SmokeNavDone) {
        Report("SMOKE FAIL: navigation timeout\n");
        return Finish(5);
    }
    if (!SmokeNavSuccess) {
        Report("SMOKE FAIL: navigation not success\n");
        return Finish(6);
    }
    Report("SMOKE PASS: WebView2 + UI loaded\n");
    return Finish(0);
}

HRESULT OnSmokeNavigationCompleted(ICoreWebView2* sender,
                                   ICoreWebView2NavigationCompletedEventArgs* args) {
    BOOL success = FALSE;
    if (!args || FAILED(args->get_IsSuccess(&success)))
        success = FALSE;
    Report("SMOKE nav success=%d\n", success ? 1 : 0);
    EndRun(success != FALSE);
    if (sender)
        sender->ExecuteScript(L"document.title + '|' + (window.__ovra ? 'bridge' : 'nobridge') + "
                              L"'|' + (document.getElementById('app') ? 'app' : 'noapp')",
                              nullptr);
    return S_OK;
}
