#include "headless/smoke.h"

#include "app/assets.h"
#include "app/globals.h"
#include "app/paths.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"
#include "browser/loader.h"

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

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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
    CoUninitialize();
    return code;
}

} // namespace

int RunSmokeTest() {
    // The lines end in a bare line feed; text mode would add carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetExePaths();
    ExtractAssets();
    if (!FileExists(JoinPath(ExeDir, L"ui\\index.html"))) {
        Report("SMOKE FAIL: ui\\index.html missing after extract\n");
        return Finish(2);
    }
    Report("SMOKE ui extracted OK\n");
    ResolveLoader(ExeDir);
    Report("SMOKE loader OK\n");

    MainWindow = CreateWindowExW(0, L"STATIC", L"OVRA-Smoke", 0, 0, 0, 800, 600, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    EnvHandler* handler = new EnvHandler(OnSmokeEnvironmentCreated);
    EnvOptions* options = new EnvOptions();
    std::wstring dataFolder = PrepareBrowserDataFolder(L"OVRA-Zirer\\WebView2-smoke");
    HRESULT hr = CreateEnvironmentEntry
                     ? CreateEnvironmentEntry(nullptr, dataFolder.c_str(), options, handler)
                     : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    options->Release();
    handler->Release();
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
    BrowserView->Release();
    BrowserView = nullptr;
    BrowserController->Close();
    BrowserController->Release();
    BrowserController = nullptr;
    BrowserEnvironment->Release();
    BrowserEnvironment = nullptr;
    return Finish(0);
}

HRESULT OnSmokeEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment) {
    if (FAILED(errorCode) || !environment) {
        Report("SMOKE FAIL: env hr=0x%08X\n", static_cast<unsigned>(errorCode));
        EndRun(false);
        return S_OK;
    }
    Report("SMOKE env OK\n");
    BrowserEnvironment = environment;
    BrowserEnvironment->AddRef();
    CtrlHandler* handler = new CtrlHandler(OnSmokeControllerCreated);
    BrowserEnvironment->CreateCoreWebView2Controller(MainWindow, handler);
    handler->Release();
    return S_OK;
}

HRESULT OnSmokeControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller) {
    if (FAILED(errorCode) || !controller) {
        Report("SMOKE FAIL: controller hr=0x%08X\n", static_cast<unsigned>(errorCode));
        EndRun(false);
        return S_OK;
    }
    BrowserController = controller;
    BrowserController->AddRef();
    HRESULT viewResult = BrowserController->get_CoreWebView2(&BrowserView);
    if (!BrowserView) {
        // A controller without a view cannot load the page: report it as the controller
        // failing rather than dereferencing nothing later.
        Report("SMOKE FAIL: controller hr=0x%08X\n",
               static_cast<unsigned>(FAILED(viewResult) ? viewResult : E_POINTER));
        EndRun(false);
        return S_OK;
    }
    Report("SMOKE controller OK\n");
    BrowserController->put_Bounds(RECT{0, 0, 800, 600});
    StartUrl = FileUrlFromPath(JoinPath(ExeDir, L"ui\\index.html"));

    EventRegistrationToken token{};
    NavHandler* handler = new NavHandler(OnSmokeNavigationCompleted);
    BrowserView->add_NavigationCompleted(handler, &token);
    handler->Release();
    BrowserView->Navigate(StartUrl.c_str());
    return S_OK;
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
