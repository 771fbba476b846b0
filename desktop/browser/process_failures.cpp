#include "browser/process_failures.h"

#include "base/com_ptr.h"
#include "base/globals.h"
#include "bridge/emit.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"
#include "browser/failure_budget.h"

namespace {

FailureBudget RendererFailures{60000, 3, {}};
// A browser start costs seconds and a new process tree: fewer of them, further apart.
FailureBudget BrowserFailures{300000, 3, {}};

const wchar_t* const PageGaveUpNotice =
    L"页面多次意外退出，已停止重新加载。请重新打开 OVRA-Zirer。";
const wchar_t* const BrowserGaveUpNotice =
    L"浏览器组件多次意外退出，已停止重新启动。请重新打开 OVRA-Zirer。";

// What the window shows once the view is given up.
const wchar_t* PendingNotice = nullptr;

// Timer ids on MainWindow for work that must not run inside the control's own event.
constexpr UINT_PTR RestartTimer = 0x4f01;
constexpr UINT_PTR GiveUpTimer = 0x4f02;

void CALLBACK RestartNow(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    RestartBrowser();
}

void CALLBACK GiveUpNow(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    TearDownBrowser();
    BrowserNotice = PendingNotice;
    InvalidateRect(window, nullptr, TRUE);
}

void GiveUp(const wchar_t* notice) {
    if (!MainWindow)
        return;
    PendingNotice = notice;
    SetTimer(MainWindow, GiveUpTimer, 0, GiveUpNow);
}

HRESULT OnNewBrowserVersion(ICoreWebView2Environment*, IUnknown*) {
    EmitToPage("runtimeUpdated", std::wstring());
    return S_OK;
}

} // namespace

bool RendererMayReload(unsigned long long nowMs) {
    return SpendRetry(RendererFailures, nowMs);
}

bool BrowserMayRestart(unsigned long long nowMs) {
    return SpendRetry(BrowserFailures, nowMs);
}

void GiveUpOnPage() {
    GiveUp(PageGaveUpNotice);
}

void WatchBrowserProcesses(ICoreWebView2* view) {
    EventRegistrationToken token{};
    ComPtr<FailHandler> failures(new FailHandler(OnProcessFailed));
    view->add_ProcessFailed(failures.Get(), &token);
    if (BrowserEnvironment) {
        ComPtr<VersionHandler> versions(new VersionHandler(OnNewBrowserVersion));
        BrowserEnvironment->add_NewBrowserVersionAvailable(versions.Get(), &token);
    }
}

HRESULT OnProcessFailed(ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED;
    if (!args || FAILED(args->get_ProcessFailedKind(&kind)) || !MainWindow)
        return S_OK;
    switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
        if (!RendererMayReload(GetTickCount64()))
            GiveUpOnPage();
        else if (BrowserView)
            BrowserView->Reload();
        break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
        // Raised inside the dead view's own event: the view goes once that has returned.
        if (BrowserMayRestart(GetTickCount64()))
            SetTimer(MainWindow, RestartTimer, 0, RestartNow);
        else
            GiveUp(BrowserGaveUpNotice);
        break;
    default:
        break;
    }
    return S_OK;
}
