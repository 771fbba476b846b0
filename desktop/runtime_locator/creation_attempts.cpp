#include "runtime_locator/creation_attempts.h"

CreationAttempts::CreationAttempts(
    ClientFactoryFn factory, int kind, PCWSTR userDataFolder,
    ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* caller)
    : factory_(factory), kind_(kind), hasUserDataFolder_(userDataFolder != nullptr),
      userDataFolder_(userDataFolder ? userDataFolder : L"") {
    options_.Share(options);
    caller_.Share(caller);
}

HRESULT CreationAttempts::Attempt() {
    // The creation outlives the caller's strings; ours are kept for the second attempt.
    return factory_(TRUE, kind_, hasUserDataFolder_ ? userDataFolder_.c_str() : nullptr,
                    options_.Get(), this);
}

HRESULT STDMETHODCALLTYPE CreationAttempts::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown ||
        iid == IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler) {
        *out = static_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CreationAttempts::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE CreationAttempts::Release() {
    ULONG left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE CreationAttempts::Invoke(HRESULT errorCode,
                                                   ICoreWebView2Environment* result) {
    // The caller may drop the last outside reference to us while we run.
    ComPtr<CreationAttempts> self;
    self.Share(this);
    if (FAILED(errorCode) && !retried_) {
        retried_ = true;
        HRESULT again = Attempt();
        // A second attempt that cannot even start is the outcome the caller hears of.
        if (FAILED(again) && caller_)
            caller_->Invoke(again, nullptr);
        return S_OK;
    }
    if (caller_)
        caller_->Invoke(errorCode, result);
    return S_OK;
}
