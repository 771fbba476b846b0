// The controller, view and settings objects of one page.
#include "runtime.h"

#include <objbase.h>

#include <type_traits>

namespace {

#define SETTING(name, field)                                                                       \
    HRESULT STDMETHODCALLTYPE get_##name(BOOL* value) override {                                   \
        if (!value)                                                                                \
            return E_POINTER;                                                                      \
        *value = page_->field ? TRUE : FALSE;                                                      \
        return S_OK;                                                                               \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##name(BOOL value) override {                                    \
        page_->field = value != FALSE;                                                             \
        Changed(&page_->field);                                                                    \
        return S_OK;                                                                               \
    }

class Settings final : public ComObject<ICoreWebView2Settings, IID_ICoreWebView2Settings> {
  public:
    explicit Settings(std::shared_ptr<Page> page) : page_(std::move(page)) {}
    SETTING(IsScriptEnabled, scriptEnabled)
    SETTING(IsWebMessageEnabled, webMessageEnabled)
    SETTING(AreDefaultScriptDialogsEnabled, scriptDialogs)
    // Headless Chromium has no status bar; a visible one shows link targets regardless.
    SETTING(IsStatusBarEnabled, statusBar)
    SETTING(AreDevToolsEnabled, devTools)
    SETTING(AreDefaultContextMenusEnabled, contextMenus)
    SETTING(AreHostObjectsAllowed, hostObjects)
    SETTING(IsZoomControlEnabled, zoomControl)
    SETTING(IsBuiltInErrorPageEnabled, errorPage)

  private:
    void Changed(const bool* field) {
        if (page_->closed)
            return;
        if (field == &page_->contextMenus || field == &page_->zoomControl)
            page_->ApplyGuards();
        else if (field == &page_->scriptEnabled)
            page_->Send("Emulation.setScriptExecutionDisabled",
                        page_->scriptEnabled ? "{\"value\":false}" : "{\"value\":true}");
    }
    std::shared_ptr<Page> page_;
};

#undef SETTING

template <typename Handler>
HRESULT AddHandler(Page& page, std::map<__int64, Handler*>& handlers, Handler* handler,
                   EventRegistrationToken* token) {
    if (page.closed)
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    return AddToHandlers(handlers, page.nextToken, handler, token);
}

// Events declared with a loosely typed handler: the pointer is the handler's interface.
#define STANDIN_EVENT(name, handlers)                                                              \
    HRESULT STDMETHODCALLTYPE add_##name(IUnknown* handler, EventRegistrationToken* token)         \
        override {                                                                                 \
        using Handler = std::remove_pointer_t<decltype(page_->handlers)::mapped_type>;             \
        return AddHandler(*page_, page_->handlers, reinterpret_cast<Handler*>(handler), token);    \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE remove_##name(EventRegistrationToken token) override {               \
        return RemoveHandler(page_->handlers, token);                                              \
    }

class View final : public ComObject<ICoreWebView2, IID_ICoreWebView2> {
  public:
    explicit View(std::shared_ptr<Page> page) : page_(std::move(page)) { page_->view = this; }

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
        if (!settings)
            return E_POINTER;
        *settings = new Settings(page_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override {
        if (!uri)
            return E_POINTER;
        *uri = TaskString(page_->Source());
        return *uri ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        if (!uri)
            return E_INVALIDARG;
        if (page_->closed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        page_->Navigate(uri);
        return S_OK;
    }
    STANDIN_NOTIMPL(NavigateToString, LPCWSTR)
    STANDIN_EVENT(NavigationStarting, startingHandlers)
    STANDIN_NO_EVENT(ContentLoading)
    STANDIN_NO_EVENT(SourceChanged)
    STANDIN_NO_EVENT(HistoryChanged)
    HRESULT STDMETHODCALLTYPE
    add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                            EventRegistrationToken* token) override {
        return AddHandler(*page_, page_->navHandlers, handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) override {
        return RemoveHandler(page_->navHandlers, token);
    }
    STANDIN_NO_EVENT(FrameNavigationStarting)
    STANDIN_NO_EVENT(FrameNavigationCompleted)
    STANDIN_NO_EVENT(ScriptDialogOpening)
    STANDIN_EVENT(PermissionRequested, permissionHandlers)
    STANDIN_EVENT(ProcessFailed, failHandlers)
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
        LPCWSTR javaScript,
        ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override {
        if (!javaScript)
            return E_INVALIDARG;
        if (page_->closed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        if (handler)
            handler->AddRef();
        page_->Send("Page.addScriptToEvaluateOnNewDocument",
                    "{\"source\":" + JsonQuote(ToUtf8(javaScript)) + "}",
                    [handler](const JsonValue* result, const std::string&) {
                        if (!handler)
                            return;
                        std::wstring id = result ? FromUtf8(result->Str("identifier")) : L"";
                        handler->Invoke(result ? S_OK : E_FAIL, result ? id.c_str() : nullptr);
                        handler->Release();
                    });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override {
        if (!id)
            return E_INVALIDARG;
        page_->RemoveScript(ToUtf8(id));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(
        LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) override {
        if (!javaScript)
            return E_INVALIDARG;
        if (page_->closed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        if (handler)
            handler->AddRef();
        page_->Send("Runtime.evaluate",
                    "{\"expression\":" + JsonQuote(ToUtf8(javaScript)) + ",\"returnByValue\":true}",
                    [handler](const JsonValue* result, const std::string&) {
                        if (!handler)
                            return;
                        // An exception or an undefined result reads as null, as it does
                        // in the real control.
                        std::string json = "null";
                        const JsonValue* value = result ? result->Find("result") : nullptr;
                        if (value && !result->Has("exceptionDetails") && value->Has("value"))
                            json = value->Find("value")->raw;
                        std::wstring text = FromUtf8(json);
                        handler->Invoke(result ? S_OK : E_FAIL, text.c_str());
                        handler->Release();
                    });
        return S_OK;
    }
    STANDIN_NOTIMPL(CapturePreview, COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*, IUnknown*)
    HRESULT STDMETHODCALLTYPE Reload() override {
        if (page_->closed)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        // A renderer that does not answer is replaced, as the real runtime does, rather
        // than asked to reload itself.
        if (page_->unresponsive)
            page_->Send("Runtime.terminateExecution", "{}");
        page_->Send("Page.reload", "{}");
        return S_OK;
    }
    STANDIN_NOTIMPL(PostWebMessageAsJson, LPCWSTR)
    STANDIN_NOTIMPL(PostWebMessageAsString, LPCWSTR)
    HRESULT STDMETHODCALLTYPE
    add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                           EventRegistrationToken* token) override {
        return AddHandler(*page_, page_->messageHandlers, handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) override {
        return RemoveHandler(page_->messageHandlers, token);
    }
    STANDIN_NOTIMPL(CallDevToolsProtocolMethod, LPCWSTR, LPCWSTR, IUnknown*)
    STANDIN_NOTIMPL(get_BrowserProcessId, UINT32*)
    STANDIN_NOTIMPL(get_CanGoBack, BOOL*)
    STANDIN_NOTIMPL(get_CanGoForward, BOOL*)
    STANDIN_NOTIMPL(GoBack)
    STANDIN_NOTIMPL(GoForward)
    STANDIN_NOTIMPL(GetDevToolsProtocolEventReceiver, LPCWSTR, IUnknown**)
    STANDIN_NOTIMPL(Stop)
    STANDIN_EVENT(NewWindowRequested, newWindowHandlers)
    STANDIN_NO_EVENT(DocumentTitleChanged)
    STANDIN_NOTIMPL(get_DocumentTitle, LPWSTR*)
    STANDIN_NOTIMPL(AddHostObjectToScript, LPCWSTR, VARIANT*)
    STANDIN_NOTIMPL(RemoveHostObjectFromScript, LPCWSTR)
    HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() override {
        page_->OpenDevTools();
        return S_OK;
    }
    STANDIN_NO_EVENT(ContainsFullScreenElementChanged)
    STANDIN_NOTIMPL(get_ContainsFullScreenElement, BOOL*)
    STANDIN_NO_EVENT(WebResourceRequested)
    STANDIN_NOTIMPL(AddWebResourceRequestedFilter, LPCWSTR, COREWEBVIEW2_WEB_RESOURCE_CONTEXT)
    STANDIN_NOTIMPL(RemoveWebResourceRequestedFilter, LPCWSTR, COREWEBVIEW2_WEB_RESOURCE_CONTEXT)
    STANDIN_NO_EVENT(WindowCloseRequested)

  private:
    ~View() override { page_->view = nullptr; }
    std::shared_ptr<Page> page_;
};

// The controller answers for its later versions too, as a current runtime does.
class Controller final : public ComObject<ICoreWebView2Controller4, IID_ICoreWebView2Controller4> {
  public:
    explicit Controller(std::shared_ptr<Page> page) : page_(page), view_(new View(page)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out && (IsEqualIID(riid, IID_ICoreWebView2Controller) ||
                    IsEqualIID(riid, IID_ICoreWebView2Controller2) ||
                    IsEqualIID(riid, IID_ICoreWebView2Controller3))) {
            *out = static_cast<ICoreWebView2Controller4*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, out);
    }

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
        if (!visible)
            return E_POINTER;
        *visible = page_->visible ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
        page_->SetVisible(visible != FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
        if (!bounds)
            return E_POINTER;
        *bounds = page_->bounds;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        page_->SetBounds(bounds);
        return S_OK;
    }
    STANDIN_NOTIMPL(get_ZoomFactor, double*)
    STANDIN_NOTIMPL(put_ZoomFactor, double)
    STANDIN_NO_EVENT(ZoomFactorChanged)
    STANDIN_NOTIMPL(SetBoundsAndZoomFactor, RECT, double)
    HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override {
        if (reason < 0 || reason > 2)
            return E_INVALIDARG;
        page_->MoveFocus(reason);
        return S_OK;
    }
    STANDIN_NO_EVENT(MoveFocusRequested)
    STANDIN_NO_EVENT(GotFocus)
    STANDIN_NO_EVENT(LostFocus)
    STANDIN_NO_EVENT(AcceleratorKeyPressed)
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override {
        if (!parent)
            return E_POINTER;
        *parent = page_->parent;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parent) override {
        page_->parent = parent;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
        page_->ParentMoved();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        page_->Close();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** view) override {
        if (!view)
            return E_POINTER;
        // The "no-view" fault: a controller that came up without its view.
        *view = page_->closed || FaultRequested(L"no-view") ? nullptr : view_;
        if (!*view)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        view_->AddRef();
        return S_OK;
    }

    STANDIN_NOTIMPL(get_DefaultBackgroundColor, COREWEBVIEW2_COLOR*)
    STANDIN_NOTIMPL(put_DefaultBackgroundColor, COREWEBVIEW2_COLOR)
    STANDIN_NOTIMPL(get_RasterizationScale, double*)
    STANDIN_NOTIMPL(put_RasterizationScale, double)
    STANDIN_NOTIMPL(get_ShouldDetectMonitorScaleChanges, BOOL*)
    STANDIN_NOTIMPL(put_ShouldDetectMonitorScaleChanges, BOOL)
    STANDIN_NO_EVENT(RasterizationScaleChanged)
    STANDIN_NOTIMPL(get_BoundsMode, COREWEBVIEW2_BOUNDS_MODE*)
    STANDIN_NOTIMPL(put_BoundsMode, COREWEBVIEW2_BOUNDS_MODE)
    HRESULT STDMETHODCALLTYPE get_AllowExternalDrop(BOOL* value) override {
        if (!value)
            return E_POINTER;
        *value = page_->allowExternalDrop ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AllowExternalDrop(BOOL value) override {
        RecordHostCall(std::string("drop ") + (value ? "1" : "0"));
        page_->SetExternalDrop(value != FALSE);
        return S_OK;
    }

  private:
    ~Controller() override { view_->Release(); }
    std::shared_ptr<Page> page_;
    View* view_;
};

} // namespace

ICoreWebView2Controller* NewController(const std::shared_ptr<Page>& page) {
    page->CreateWindowInParent();
    WatchPage(page);
    return new Controller(page);
}
