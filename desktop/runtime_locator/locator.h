// The linked-in browser runtime locator: the loader's two entry points, found by the
// same names in the exe (fallback) and exported from the standalone loader library.
#pragma once

#include "webview2/webview2.h"

extern "C" {
HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder,
                                                                    LPWSTR* versionInfo);
}
