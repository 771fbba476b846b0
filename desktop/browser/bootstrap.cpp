#include "browser/bootstrap.h"

#include "app/globals.h"
#include "app/paths.h"
#include "app/window.h"
#include "bridge/dispatch.h"
#include "bridge/emit.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"
#include "browser/loader.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

std::wstring UserDataDir;

const wchar_t* const HostBridgeScript =
    L"window.__host={post:function(m){window.chrome.webview.postMessage(typeof "
    L"m==='string'?m:JSON.stringify(m));}};";

namespace {

void ShowErrorBox(const wchar_t* text) {
    MessageBoxW(MainWindow, text, WindowTitle, MB_ICONERROR | MB_OK);
}

void CheckRuntimeInstalled() {
    if (!BrowserVersionEntry)
        return;
    LPWSTR version = nullptr;
    HRESULT hr = BrowserVersionEntry(nullptr, &version);
    if (FAILED(hr) || !version)
        ShowErrorBox(L"未检测到 Microsoft Edge WebView2 Runtime。\n请到官网安装运行时后重新打开 "
                     L"OVRA-Zirer。");
    if (version)
        CoTaskMemFree(version);
}

std::wstring LocalAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
        folder[0])
        return folder;
    // Without it the browser data would land relative to whatever the current folder is;
    // the per-user temporary folder is the nearest place that is surely writable.
    DWORD n = GetTempPathW(MAX_PATH, folder);
    std::wstring temp(folder, n);
    while (!temp.empty() && (temp.back() == L'\\' || temp.back() == L'/'))
        temp.pop_back();
    return temp;
}

void ApplyViewSettings(ICoreWebView2* view) {
    ICoreWebView2Settings* settings = nullptr;
    if (FAILED(view->get_Settings(&settings)) || !settings)
        return;
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    settings->put_IsZoomControlEnabled(FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_AreDevToolsEnabled(TRUE);
    settings->Release();
}

} // namespace

std::wstring PrepareBrowserDataFolder(const std::wstring& relative) {
    std::wstring base = LocalAppDataFolder();
    CreateDirectoryW((base + L"\\OVRA-Zirer").c_str(), nullptr);
    std::wstring folder = JoinPath(base, relative);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool StartBrowser() {
    ResolveLoader(ExeDir);
    CheckRuntimeInstalled();
    UserDataDir = PrepareBrowserDataFolder(L"OVRA-Zirer\\WebView2");
    if (!CreateEnvironmentEntry)
        return false;

    EnvOptions* options = new EnvOptions();
    EnvHandler* handler = new EnvHandler(OnEnvironmentCreated);
    HRESULT hr = CreateEnvironmentEntry(nullptr, UserDataDir.c_str(), options, handler);
    options->Release();
    handler->Release();
    return SUCCEEDED(hr);
}

HRESULT OnEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment) {
    if (FAILED(errorCode) || !environment) {
        ShowErrorBox(L"WebView2 环境创建失败。");
        PostQuitMessage(1);
        return S_OK;
    }
    BrowserEnvironment = environment;
    BrowserEnvironment->AddRef();
    CtrlHandler* handler = new CtrlHandler(OnControllerCreated);
    BrowserEnvironment->CreateCoreWebView2Controller(MainWindow, handler);
    handler->Release();
    return S_OK;
}

HRESULT OnControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller) {
    if (FAILED(errorCode) || !controller) {
        ShowErrorBox(L"WebView2 控制器创建失败。");
        PostQuitMessage(1);
        return S_OK;
    }
    BrowserController = controller;
    BrowserController->AddRef();
    BrowserController->get_CoreWebView2(&BrowserView);
    FitBrowserToWindow();
    if (!BrowserView)
        return S_OK;

    ApplyViewSettings(BrowserView);
    BrowserView->AddScriptToExecuteOnDocumentCreated(HostBridgeScript, nullptr);
    EventRegistrationToken token{};
    MsgHandler* messages = new MsgHandler(OnWebMessageReceived);
    BrowserView->add_WebMessageReceived(messages, &token);
    NavHandler* navigations = new NavHandler(OnNavigationCompleted);
    BrowserView->add_NavigationCompleted(navigations, &token);
    BrowserView->Navigate(StartUrl.c_str());
    messages->Release();
    navigations->Release();
    return S_OK;
}

HRESULT OnNavigationCompleted(ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*) {
    EmitToPage("hostReady", std::wstring(L"{\"version\":\"") + AppVersion + L"\"}");
    return S_OK;
}
