#include "browser/browser_state.h"

#include "base/globals.h"

ComPtr<ICoreWebView2Environment> BrowserEnvironment;
ComPtr<ICoreWebView2Controller> BrowserController;
ComPtr<ICoreWebView2> BrowserView;

void FitBrowserToWindow() {
    if (!BrowserController || !MainWindow)
        return;
    RECT client;
    GetClientRect(MainWindow, &client);
    BrowserController->put_Bounds(client);
}

void TearDownBrowser() {
    BrowserView.Reset();
    if (BrowserController) {
        BrowserController->Close();
        BrowserController.Reset();
    }
    BrowserEnvironment.Reset();
}
