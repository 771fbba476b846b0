// The three browser objects, each holding one reference or null. UI thread only;
// released on WM_DESTROY.
#pragma once

#include "browser/webview2.h"

extern ICoreWebView2Environment* BrowserEnvironment;
extern ICoreWebView2Controller* BrowserController;
extern ICoreWebView2* BrowserView;
