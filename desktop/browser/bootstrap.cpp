#include "browser/bootstrap.h"

#include "base/com_ptr.h"
#include "base/files.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/task_memory.h"
#include "bridge/emit.h"
#include "bridge/trial_report.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"
#include "browser/creation_retry.h"
#include "browser/loader.h"
#include "browser/navigation_guard.h"
#include "browser/permissions.h"
#include "browser/process_failures.h"
#include "browser/web_messages.h"

#include <windows.h>
#include <objbase.h>

std::wstring UserDataDir;

const wchar_t* const HostBridgeScript =
    L"window.__host={post:function(m){window.chrome.webview.postMessage(typeof "
    L"m==='string'?m:JSON.stringify(m));}};";

namespace {

// The page's own background (app.css --bg) as the control's AARRGGBB colour.
const wchar_t* const PageBackgroundColor = L"FF070B14";

// The sequence under way; one per process, like the browser objects it fills in.
BrowserStartup Startup;

void ShowErrorBox(const wchar_t* text) {
    MessageBoxW(MainWindow, text, WindowTitle, MB_ICONERROR | MB_OK);
}

void CheckRuntimeInstalled() {
    if (!BrowserVersionEntry)
        return;
    LPWSTR version = nullptr;
    HRESULT hr = BrowserVersionEntry(nullptr, &version);
    if (FAILED(hr) || !version) {
        // No trial passes here: a new build whose own runtime lookup is broken is rolled
        // back, and with the runtime really gone the old build says the same.
        ShowErrorBox(L"未检测到 Microsoft Edge WebView2 Runtime。\n请到官网安装运行时后重新打开 "
                     L"OVRA-Zirer。");
    }
    TakeTaskString(version);
}

void ApplyViewSettings(ICoreWebView2* view) {
    ComPtr<ICoreWebView2Settings> settings;
    if (FAILED(view->get_Settings(settings.Receive())) || !settings)
        return;
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    settings->put_IsZoomControlEnabled(FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_AreDevToolsEnabled(TRUE);
}

void PrepareDesktopView(ICoreWebView2* view) {
    ApplyViewSettings(view);
    view->AddScriptToExecuteOnDocumentCreated(HostBridgeScript, nullptr);
    EventRegistrationToken token{};
    ComPtr<MsgHandler> messages(new MsgHandler(OnWebMessageReceived));
    view->add_WebMessageReceived(messages.Get(), &token);
    WatchBrowserProcesses(view);
    LockViewToPage(BrowserController.Get(), view);
    AnswerPermissionRequests(view);
    // The window had the focus while it showed the start-up screen; typing goes on in
    // the page without a click.
    if (GetFocus() == MainWindow)
        FocusBrowser();
}

// A completion that arrives once the window is gone (closed during creation) has
// nothing left to show anything in.
bool WindowGone() {
    return !MainWindow || !IsWindow(MainWindow);
}

void Report(BrowserStep step) {
    if (Startup.ready)
        Startup.ready(step);
}

HRESULT StartEnvironment() {
    if (!CreateEnvironmentEntry)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<EnvOptions> options(new EnvOptions());
    ComPtr<EnvHandler> handler(new EnvHandler(OnEnvironmentCreated));
    return CreateEnvironmentEntry(nullptr, UserDataDir.c_str(), options.Get(), handler.Get());
}

HRESULT Fail(BrowserStep step, HRESULT hr, bool created = false);

void RetryEnvironment() {
    HRESULT hr = StartEnvironment();
    if (FAILED(hr))
        Fail(BrowserStep::Environment, hr);
}

// `created` is true for a failure after the runtime created what was asked for: that is no
// held data folder, whatever its code, and is not tried again.
HRESULT Fail(BrowserStep step, HRESULT hr, bool created) {
    TearDownBrowser();
    if (!created && RetryCreationLater(hr, RetryEnvironment))
        return S_OK;
    if (Startup.failed)
        Startup.failed(step, hr);
    return S_OK;
}

HRESULT Navigated(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) {
    return Startup.navigated ? Startup.navigated(sender, args) : S_OK;
}

} // namespace

std::wstring PrepareBrowserDataFolder(const std::wstring& name) {
    std::wstring folder = JoinPath(AppDataFolder(), name);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

HRESULT CreateBrowser(const BrowserStartup& startup) {
    Startup = startup;
    ResolveLoader(ExeDir);
    Report(BrowserStep::Loader);
    UserDataDir = PrepareBrowserDataFolder(Startup.dataFolder);
    // The control paints this until the page's first frame, instead of white between the
    // dark start-up screen and the dark page. The runtime reads it at creation.
    SetEnvironmentVariableW(L"WEBVIEW2_DEFAULT_BACKGROUND_COLOR", PageBackgroundColor);
    NoteCreationStart();
    return StartEnvironment();
}

void RestartBrowser() {
    BrowserStartup again = Startup;
    TearDownBrowser();
    if (MainWindow)
        InvalidateRect(MainWindow, nullptr, TRUE);
    HRESULT hr = CreateBrowser(again);
    if (FAILED(hr) && Startup.failed)
        Startup.failed(BrowserStep::Environment, hr);
}

bool StartBrowser() {
    BrowserStartup startup;
    startup.dataFolder = L"WebView2";
    startup.ready = [](BrowserStep step) {
        if (step == BrowserStep::Loader)
            CheckRuntimeInstalled();
    };
    startup.failed = [](BrowserStep step, HRESULT) {
        ShowErrorBox(step == BrowserStep::Environment ? L"WebView2 环境创建失败。"
                                                      : L"WebView2 控制器创建失败。");
        PostQuitMessage(1);
    };
    startup.prepareView = PrepareDesktopView;
    startup.navigated = OnNavigationCompleted;
    return SUCCEEDED(CreateBrowser(startup));
}

HRESULT OnEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment) {
    if (WindowGone())
        return S_OK;
    if (FAILED(errorCode) || !environment)
        return Fail(BrowserStep::Environment, errorCode);
    BrowserEnvironment.Share(environment);
    Report(BrowserStep::Environment);
    ComPtr<CtrlHandler> handler(new CtrlHandler(OnControllerCreated));
    HRESULT hr = BrowserEnvironment->CreateCoreWebView2Controller(MainWindow, handler.Get());
    if (FAILED(hr))
        return Fail(BrowserStep::Controller, hr);
    return S_OK;
}

HRESULT OnControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller) {
    if (WindowGone()) {
        // Nobody will ever close this one otherwise.
        if (SUCCEEDED(errorCode) && controller)
            controller->Close();
        return S_OK;
    }
    if (FAILED(errorCode) || !controller)
        return Fail(BrowserStep::Controller, errorCode);
    BrowserController.Share(controller);
    HRESULT viewResult = BrowserController->get_CoreWebView2(BrowserView.Receive());
    // A controller without a view cannot load the page: it counts as the controller
    // failing, rather than leaving the start-up screen up for good.
    if (FAILED(viewResult) || !BrowserView)
        return Fail(BrowserStep::Controller, FAILED(viewResult) ? viewResult : E_POINTER, true);
    Report(BrowserStep::Controller);
    FitBrowserToWindow();

    if (Startup.prepareView)
        Startup.prepareView(BrowserView.Get());
    EventRegistrationToken token{};
    ComPtr<NavHandler> navigations(new NavHandler(Navigated));
    BrowserView->add_NavigationCompleted(navigations.Get(), &token);
    BrowserView->Navigate(StartUrl.c_str());
    return S_OK;
}

HRESULT OnNavigationCompleted(ICoreWebView2* sender,
                              ICoreWebView2NavigationCompletedEventArgs* args) {
    // Another document has no page to announce ourselves to, and says nothing of whether
    // ours works: the page comes back, and its own load is announced.
    if (!KeepPageShown(sender ? sender : BrowserView.Get()))
        return S_OK;
    EmitToPage("hostReady", std::wstring(L"{\"version\":\"") + AppVersion + L"\"}");
    BOOL loaded = FALSE;
    if (args && SUCCEEDED(args->get_IsSuccess(&loaded)) && loaded)
        ReportPageUp();
    return S_OK;
}
