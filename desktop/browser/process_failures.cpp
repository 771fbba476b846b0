#include "browser/process_failures.h"

#include "base/com_ptr.h"
#include "base/globals.h"
#include "bridge/emit.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"

#include <deque>

namespace {

constexpr unsigned long long FailureWindowMs = 60000;
constexpr size_t ReloadsPerWindow = 3;

const wchar_t* const GaveUpNotice = L"页面多次意外退出，已停止重新加载。请重新打开 OVRA-Zirer。";

std::deque<unsigned long long> RendererFailures;

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
    BrowserNotice = GaveUpNotice;
    InvalidateRect(window, nullptr, TRUE);
}

HRESULT OnNewBrowserVersion(ICoreWebView2Environment*, IUnknown*) {
    EmitToPage("runtimeUpdated", std::wstring());
    return S_OK;
}

} // namespace

bool RendererMayReload(unsigned long long nowMs) {
    while (!RendererFailures.empty() && nowMs - RendererFailures.front() >= FailureWindowMs)
        RendererFailures.pop_front();
    RendererFailures.push_back(nowMs);
    return RendererFailures.size() <= ReloadsPerWindow;
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
        if (RendererMayReload(GetTickCount64())) {
            if (BrowserView)
                BrowserView->Reload();
        } else {
            SetTimer(MainWindow, GiveUpTimer, 0, GiveUpNow);
        }
        break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
        // Raised inside the dead view's own event: the view goes once that has returned.
        SetTimer(MainWindow, RestartTimer, 0, RestartNow);
        break;
    default:
        break;
    }
    return S_OK;
}
