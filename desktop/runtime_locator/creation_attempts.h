// The completion handler the client library is given in place of the caller's: it
// makes one more attempt when creation fails, and tells the caller the outcome.
#pragma once

#include "base/com_ptr.h"
#include "webview2/webview2.h"

#include <string>

using ClientFactoryFn = HRESULT(STDAPICALLTYPE*)(
    BOOL, int kind, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

class CreationAttempts final : public ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
  public:
    // Holds its own references to `options` and `caller`; starts with one reference.
    CreationAttempts(ClientFactoryFn factory, int kind, PCWSTR userDataFolder,
                     ICoreWebView2EnvironmentOptions* options,
                     ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* caller);

    // One call of the client's factory with this object as its handler.
    HRESULT Attempt();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode, ICoreWebView2Environment* result) override;

  private:
    ULONG refs_ = 1;
    ClientFactoryFn factory_;
    int kind_;
    bool hasUserDataFolder_;
    std::wstring userDataFolder_;
    ComPtr<ICoreWebView2EnvironmentOptions> options_;
    ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> caller_;
    bool retried_ = false;
};
