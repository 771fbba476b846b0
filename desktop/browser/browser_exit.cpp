#include "browser/browser_exit.h"

#include "base/com_ptr.h"
#include "browser/browser_state.h"
#include "browser/com_objects.h"

#include <windows.h>

namespace {

// Held until the wait is over: the event belongs to the environment.
ComPtr<ICoreWebView2Environment5> ClosingEnvironment;
EventRegistrationToken ExitToken{};
bool BrowserEnded = false;

} // namespace

void CloseBrowserForExit() {
    if (BrowserEnvironment && !ClosingEnvironment) {
        // Older runtimes have no such event: they are not waited for.
        ComPtr<ICoreWebView2Environment5> environment;
        if (SUCCEEDED(BrowserEnvironment->QueryInterface(
                IID_ICoreWebView2Environment5, reinterpret_cast<void**>(environment.Receive()))) &&
            environment) {
            ComPtr<ExitHandler> handler(new ExitHandler(
                [](ICoreWebView2Environment*, ICoreWebView2BrowserProcessExitedEventArgs*) {
                    BrowserEnded = true;
                    return S_OK;
                }));
            if (SUCCEEDED(environment->add_BrowserProcessExited(handler.Get(), &ExitToken)))
                ClosingEnvironment = std::move(environment);
        }
    }
    TearDownBrowser();
}

void WaitForBrowserExit(unsigned long ms) {
    if (!ClosingEnvironment)
        return;
    ULONGLONG deadline = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); !BrowserEnded && now < deadline;
         now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
        MSG msg;
        // The message loop has ended: a quit message here is the one already taken.
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    ClosingEnvironment->remove_BrowserProcessExited(ExitToken);
    ClosingEnvironment.Reset();
}
