// The COM objects this program hands to the browser control: the fixed environment
// options and one handler class per callback interface, each forwarding to a callable.
// Used on the UI thread only, so reference counts are plain integers.
#pragma once

#include "webview2/webview2.h"

#include <functional>
#include <utility>

class EnvOptions final : public ICoreWebView2EnvironmentOptions {
  public:
    EnvOptions() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override;
    HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL) override {
        return S_OK;
    }

  private:
    ~EnvOptions() = default;
    int refs_ = 1;
};

// QueryInterface for objects that implement IUnknown and exactly one other interface.
HRESULT QuerySingleInterface(IUnknown* self, REFIID own, REFIID riid, void** out);

// One handler object: an interface with a single two-argument Invoke, forwarded to the
// stored callable. An empty callable answers S_OK. The callable, and whatever it
// captured, is destroyed with the object at the last Release.
template <typename Interface, const IID& Iid, typename A, typename B>
class CallbackObject final : public Interface {
  public:
    using Callable = std::function<HRESULT(A, B)>;

    explicit CallbackObject(Callable callable) : callable_(std::move(callable)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return QuerySingleInterface(this, Iid, riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        int left = --refs_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Invoke(A first, B second) override {
        if (!callable_)
            return S_OK;
        return callable_(first, second);
    }

  private:
    ~CallbackObject() = default;
    int refs_ = 1;
    Callable callable_;
};

using EnvHandler = CallbackObject<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                                  IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                                  HRESULT, ICoreWebView2Environment*>;
using CtrlHandler = CallbackObject<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                                   IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                                   HRESULT, ICoreWebView2Controller*>;
using MsgHandler = CallbackObject<ICoreWebView2WebMessageReceivedEventHandler,
                                  IID_ICoreWebView2WebMessageReceivedEventHandler, ICoreWebView2*,
                                  ICoreWebView2WebMessageReceivedEventArgs*>;
using NavHandler = CallbackObject<ICoreWebView2NavigationCompletedEventHandler,
                                  IID_ICoreWebView2NavigationCompletedEventHandler, ICoreWebView2*,
                                  ICoreWebView2NavigationCompletedEventArgs*>;
using FailHandler = CallbackObject<ICoreWebView2ProcessFailedEventHandler,
                                   IID_ICoreWebView2ProcessFailedEventHandler, ICoreWebView2*,
                                   ICoreWebView2ProcessFailedEventArgs*>;
using ExitHandler =
    CallbackObject<ICoreWebView2BrowserProcessExitedEventHandler,
                   IID_ICoreWebView2BrowserProcessExitedEventHandler, ICoreWebView2Environment*,
                   ICoreWebView2BrowserProcessExitedEventArgs*>;
using VersionHandler = CallbackObject<ICoreWebView2NewBrowserVersionAvailableEventHandler,
                                      IID_ICoreWebView2NewBrowserVersionAvailableEventHandler,
                                      ICoreWebView2Environment*, IUnknown*>;
