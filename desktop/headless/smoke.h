#pragma once

#include "webview2/webview2.h"

// Checks extraction, loader, environment, controller and navigation in a hidden
// window; returns the process exit code. The page files must have been extracted.
int RunSmokeTest();

HRESULT OnSmokeNavigationCompleted(ICoreWebView2* sender,
                                   ICoreWebView2NavigationCompletedEventArgs* args);
