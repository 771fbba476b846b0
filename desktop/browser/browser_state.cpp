#include "browser/browser_state.h"

#include "base/globals.h"

ComPtr<ICoreWebView2Environment> BrowserEnvironment;
ComPtr<ICoreWebView2Controller> BrowserController;
ComPtr<ICoreWebView2> BrowserView;
const wchar_t* BrowserNotice = nullptr;

void FitBrowserToWindow() {
    if (!BrowserController || !MainWindow)
        return;
    RECT client;
    GetClientRect(MainWindow, &client);
    BrowserController->put_Bounds(client);
}

void FocusBrowser() {
    if (BrowserController)
        BrowserController->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
}

void NotifyBrowserMoved() {
    if (BrowserController)
        BrowserController->NotifyParentWindowPositionChanged();
}

void ShowBrowser(bool visible) {
    if (!BrowserController)
        return;
    BOOL shown = FALSE;
    // Resizes come often; the control is only told when its visibility changes.
    if (FAILED(BrowserController->get_IsVisible(&shown)) || (shown != FALSE) != visible)
        BrowserController->put_IsVisible(visible ? TRUE : FALSE);
    if (visible)
        FitBrowserToWindow();
}

void TearDownBrowser() {
    BrowserView.Reset();
    if (BrowserController) {
        BrowserController->Close();
        BrowserController.Reset();
    }
    BrowserEnvironment.Reset();
}
