#pragma once

#include "browser/webview2.h"

// Checks extraction, loader, environment, controller and navigation in a hidden
// window; returns the process exit code.
int RunSmokeTest();

HRESULT OnSmokeEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment);
HRESULT OnSmokeControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller);
HRESULT OnSmokeNavigationCompleted(ICoreWebView2* sender,
                                   ICoreWebView2NavigationCompletedEventArgs* args);
