#include "runtime_locator/locator.h"

// Placeholder until the locator lands: no runtime is ever found.
extern "C" HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR, PCWSTR, ICoreWebView2EnvironmentOptions*,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (!handler)
        return E_POINTER;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

extern "C" HRESULT STDAPICALLTYPE
GetAvailableCoreWebView2BrowserVersionString(PCWSTR, LPWSTR* versionInfo) {
    if (versionInfo)
        *versionInfo = nullptr;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}
