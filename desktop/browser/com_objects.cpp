#include "browser/com_objects.h"

#include "base/task_memory.h"

HRESULT QuerySingleInterface(IUnknown* self, REFIID own, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, own)) {
        *out = self;
        self->AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT EnvOptions::QueryInterface(REFIID riid, void** out) {
    return QuerySingleInterface(this, IID_ICoreWebView2EnvironmentOptions, riid, out);
}

ULONG EnvOptions::Release() {
    int left = --refs_;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT EnvOptions::get_AdditionalBrowserArguments(LPWSTR* value) {
    return CopyToTaskMemory(L"--enable-media-stream --autoplay-policy=no-user-gesture-required",
                            value);
}

HRESULT EnvOptions::get_Language(LPWSTR* value) {
    if (!value)
        return E_POINTER;
    *value = nullptr;
    return S_OK;
}

HRESULT EnvOptions::get_TargetCompatibleBrowserVersion(LPWSTR* value) {
    return CopyToTaskMemory(L"90.0.0.0", value);
}

HRESULT EnvOptions::get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) {
    if (!allow)
        return E_POINTER;
    *allow = FALSE;
    return S_OK;
}
