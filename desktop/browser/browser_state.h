// The three browser objects, each holding one reference or nothing. UI thread only;
// released on WM_DESTROY.
#pragma once

#include "base/com_ptr.h"
#include "browser/webview2.h"

extern ComPtr<ICoreWebView2Environment> BrowserEnvironment;
extern ComPtr<ICoreWebView2Controller> BrowserController;
extern ComPtr<ICoreWebView2> BrowserView;

// Makes the browser control cover the main window's client area, once it exists.
void FitBrowserToWindow();

// Releases the view, closes and releases the controller, then releases the
// environment: the controller goes only once nothing uses its view any more.
void TearDownBrowser();
