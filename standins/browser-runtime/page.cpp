#include "base/text.h"
#include "launch.h"
#include "runtime.h"

#include <objbase.h>

#include <vector>

namespace {

const char BindingName[] = "__ovraStandinPost";

// Gives every document the page side of the web-message channel. Strings and other
// values are told apart by a one-letter prefix so the host side can answer
// TryGetWebMessageAsString correctly.
const char ChannelScript[] = R"JS((function () {
  var post = window.__ovraStandinPost;
  if (typeof post !== 'function') return;
  try { delete window.__ovraStandinPost; } catch (e) {}
  var listeners = [];
  var webview = {
    postMessage: function (message) {
      var json = JSON.stringify(message);
      if (json === undefined) throw new TypeError('message cannot be serialised');
      post((typeof message === 'string' ? 'S' : 'J') + json);
    },
    addEventListener: function (type, fn) { if (type === 'message') listeners.push(fn); },
    removeEventListener: function (type, fn) {
      var i = listeners.indexOf(fn);
      if (i >= 0) listeners.splice(i, 1);
    }
  };
  if (!window.chrome) window.chrome = {};
  window.chrome.webview = webview;
})();)JS";

class NavArgs final : public ComObject<ICoreWebView2NavigationCompletedEventArgs,
                                       IID_ICoreWebView2NavigationCompletedEventArgs> {
  public:
    NavArgs(bool success, UINT64 id) : success_(success), id_(id) {}
    HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* value) override { return Give(success_, value); }
    HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* value) override {
        if (!value)
            return E_POINTER;
        // 0 is "unknown", which is what a failure without more detail reports.
        *value = static_cast<COREWEBVIEW2_WEB_ERROR_STATUS>(0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* value) override { return Give(id_, value); }

  private:
    bool success_;
    UINT64 id_;
};

class MessageArgs final : public ComObject<ICoreWebView2WebMessageReceivedEventArgs,
                                           IID_ICoreWebView2WebMessageReceivedEventArgs> {
  public:
    MessageArgs(std::wstring source, std::wstring json, bool isString, std::wstring text)
        : source_(std::move(source)), json_(std::move(json)), isString_(isString),
          text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* value) override { return Give(source_, value); }
    HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* value) override {
        return Give(json_, value);
    }
    HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* value) override {
        if (!value)
            return E_POINTER;
        if (!isString_) {
            *value = nullptr;
            return E_INVALIDARG;
        }
        return Give(text_, value);
    }

  private:
    static HRESULT Give(const std::wstring& text, LPWSTR* out) {
        if (!out)
            return E_POINTER;
        *out = TaskString(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    std::wstring source_, json_;
    bool isString_;
    std::wstring text_;
};

} // namespace

void Page::Send(const std::string& method, const std::string& params, CdpConnection::Reply reply) {
    browser->cdp->Send(method, params, sessionId, std::move(reply));
}

void Page::OnEvent(const std::string& method, const JsonValue& params) {
    if (closed || OnProcessEvent(method, params) || OnNavigationEvent(method, params))
        return;
    if (method == "Page.frameNavigated") {
        const JsonValue* frame = params.Find("frame");
        if (!frame)
            return;
        frameUrls[frame->Str("id")] = frame->Str("url");
        if (frame->Has("parentId"))
            return;
        mainFrameId = frame->Str("id");
        currentUrl = frame->Str("url");
        committed = true;
        commitSucceeded =
            !frame->Has("unreachableUrl") && currentUrl.rfind("chrome-error:", 0) != 0;
    } else if (method == "Page.loadEventFired") {
        if (committed) {
            committed = false;
            FinishNavigation(commitSucceeded);
        }
    } else if (method == "Page.navigatedWithinDocument") {
        frameUrls[params.Str("frameId")] = params.Str("url");
    } else if (method == "Runtime.executionContextCreated") {
        const JsonValue* context = params.Find("context");
        const JsonValue* aux = context ? context->Find("auxData") : nullptr;
        if (aux)
            contextFrames[static_cast<int>(context->Num("id"))] = aux->Str("frameId");
    } else if (method == "Runtime.executionContextDestroyed") {
        contextFrames.erase(static_cast<int>(params.Num("executionContextId")));
    } else if (method == "Runtime.executionContextsCleared") {
        contextFrames.clear();
    } else if (method == "Runtime.bindingCalled") {
        if (params.Str("name") == BindingName)
            DeliverMessage(params.Str("payload"),
                           static_cast<int>(params.Num("executionContextId")));
    }
}

void Page::Navigate(const std::wstring& uri) {
    requestedUri = uri;
    requestedUrl = MapUrl(uri);
    nextRequestBy = "navigate";
    std::weak_ptr<Page> weak = shared_from_this();
    Send("Page.navigate", "{\"url\":" + JsonQuote(requestedUrl) + "}",
         [weak](const JsonValue* result, const std::string& error) {
             auto self = weak.lock();
             if (!self)
                 return;
             // Refused outright, or abandoned before anything (even an error page) was
             // shown: no load will follow, so report the failure now.
             if (!result || result->Str("errorText") == "net::ERR_ABORTED") {
                 (void)error;
                 self->FinishNavigation(false);
             }
         });
}

void Page::FinishNavigation(bool success) {
    if (closed || FaultRequested(L"nav-hang"))
        return;
    // A new browser window may still have been coming up when it was first placed.
    PlaceBrowserWindow();
    NavArgs* args = new NavArgs(success, navigations);
    Raise(navHandlers, view, static_cast<ICoreWebView2NavigationCompletedEventArgs*>(args));
    args->Release();
}

void Page::DeliverMessage(const std::string& payload, int contextId) {
    if (!webMessageEnabled || payload.empty())
        return;
    bool isString = payload[0] == 'S';
    std::string json = payload.substr(1);
    std::wstring text;
    if (isString) {
        JsonValue value;
        if (ParseJson(json, value))
            text = FromUtf8(value.text);
    }
    // The source is the document that posted: a frame or a document opened later reports
    // its own URL, never the page's.
    MessageArgs* args = new MessageArgs(SourceOfContext(contextId), FromUtf8(json), isString, text);
    Raise(messageHandlers, view, static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(args));
    args->Release();
}

void Page::ApplyGuards() {
    // Chromium has no switches for these per page, so the page is kept from reaching
    // the browser's context menu and zoom instead.
    std::string script = "(function(){";
    if (!contextMenus)
        script += "window.addEventListener('contextmenu',function(e){e.preventDefault();});";
    if (!zoomControl)
        script += "window.addEventListener('wheel',function(e){if(e.ctrlKey)e.preventDefault();},"
                  "{passive:false,capture:true});"
                  "window.addEventListener('keydown',function(e){if((e.ctrlKey||e.metaKey)&&"
                  "['+','-','=','_','0'].indexOf(e.key)>=0)e.preventDefault();},true);";
    script += "})();";
    // Settings change one by one; only the script of the latest change may stay.
    int generation = ++guardGeneration;
    std::weak_ptr<Page> weak = shared_from_this();
    Send("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(script) + "}",
         [weak, generation](const JsonValue* result, const std::string&) {
             auto self = weak.lock();
             if (!self || !result)
                 return;
             std::string id = result->Str("identifier");
             if (generation != self->guardGeneration)
                 return self->RemoveScript(id);
             if (!self->guardScriptId.empty())
                 self->RemoveScript(self->guardScriptId);
             self->guardScriptId = id;
         });
}

void Page::RemoveScript(const std::string& id) {
    Send("Page.removeScriptToEvaluateOnNewDocument", "{\"identifier\":" + JsonQuote(id) + "}");
}

void Page::SetBounds(const RECT& rect) {
    bounds = rect;
    RecordHostCall("bounds " + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                   std::to_string(rect.right) + " " + std::to_string(rect.bottom));
    long width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (window)
        MoveWindow(window, rect.left, rect.top, width, height, TRUE);
    if (width < 1 || height < 1 || closed)
        return;
    if (EnvVar(L"OVRA_STANDIN_VISIBLE") == L"1")
        return PlaceBrowserWindow(); // the window's own size is the page's
    Send("Emulation.setDeviceMetricsOverride", "{\"width\":" + std::to_string(width) +
                                                   ",\"height\":" + std::to_string(height) +
                                                   ",\"deviceScaleFactor\":0,\"mobile\":false}");
}

void Page::PlaceBrowserWindow() {
    long width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (EnvVar(L"OVRA_STANDIN_VISIBLE") != L"1" || closed || !visible || width < 1 || height < 1)
        return;
    std::weak_ptr<Page> weak = shared_from_this();
    if (!insetsKnown) {
        // The browser draws a frame of its own around the page: measure it once, so that
        // the page itself lies exactly over the host window's client area.
        Send("Runtime.evaluate",
             "{\"expression\":\"[outerWidth-innerWidth,outerHeight-innerHeight]\","
             "\"returnByValue\":true}",
             [weak](const JsonValue* result, const std::string&) {
                 auto self = weak.lock();
                 const JsonValue* value = result ? result->Find("result") : nullptr;
                 value = value ? value->Find("value") : nullptr;
                 if (!self || !value || value->items.size() != 2)
                     return;
                 long dx = static_cast<long>(value->items[0].number);
                 long dy = static_cast<long>(value->items[1].number);
                 self->insets = RECT{dx / 2, dy - dx / 2, dx - dx / 2, dx / 2};
                 self->insetsKnown = true;
                 self->PlaceBrowserWindow();
             });
        return;
    }
    POINT origin{bounds.left, bounds.top};
    if (parent)
        ClientToScreen(parent, &origin);
    std::string box = "{\"left\":" + std::to_string(origin.x - insets.left) +
                      ",\"top\":" + std::to_string(origin.y - insets.top) +
                      ",\"width\":" + std::to_string(width + insets.left + insets.right) +
                      ",\"height\":" + std::to_string(height + insets.top + insets.bottom) + "}";
    std::shared_ptr<Browser> owner = browser;
    owner->cdp->Send("Browser.getWindowForTarget", "{\"targetId\":" + JsonQuote(targetId) + "}", "",
                     [owner, box](const JsonValue* result, const std::string&) {
                         if (result)
                             owner->cdp->Send("Browser.setWindowBounds",
                                              "{\"windowId\":" +
                                                  std::to_string(static_cast<long long>(
                                                      result->Num("windowId"))) +
                                                  ",\"bounds\":" + box + "}",
                                              "");
                     });
}

void Page::OpenDevTools() {
    if (!devTools || closed)
        return;
    std::string host = "127.0.0.1:" + std::to_string(browser->port);
    std::string url =
        "http://" + host + "/devtools/inspector.html?ws=" + host + "/devtools/page/" + targetId;
    browser->cdp->Send("Target.createTarget", "{\"url\":" + JsonQuote(url) + ",\"newWindow\":true}",
                       "");
}

std::wstring Page::SourceOfContext(int contextId) const {
    auto context = contextFrames.find(contextId);
    if (context == contextFrames.end())
        return L"about:blank";
    if (context->second == mainFrameId)
        return Source();
    auto frame = frameUrls.find(context->second);
    std::string url =
        frame == frameUrls.end() || frame->second.empty() ? "about:blank" : frame->second;
    return HostAddress(url);
}

std::wstring Page::Source() const {
    return HostAddress(currentUrl.empty() ? "about:blank" : currentUrl);
}

void Page::Close() {
    if (closed)
        return;
    RecordHostCall("close");
    closed = true;
    if (window) {
        DestroyWindow(window);
        window = nullptr;
    }
    browser->cdp->listeners.erase(sessionId);
    auto release = [](auto& handlers) {
        auto taken = std::move(handlers);
        handlers.clear();
        for (auto& entry : taken)
            entry.second->Release();
    };
    release(navHandlers);
    release(messageHandlers);
    release(failHandlers);
    ReleaseNavigationHandlers();
    if (--browser->openPages == 0)
        browser->Shutdown();
    else
        browser->cdp->Send("Target.closeTarget", "{\"targetId\":" + JsonQuote(targetId) + "}", "");
}

namespace {

void Prepare(const std::shared_ptr<Page>& page, std::function<void(std::shared_ptr<Page>)> done) {
    std::weak_ptr<Page> weak = page;
    page->browser->cdp->listeners[page->sessionId] = [weak](const std::string& method,
                                                            const JsonValue& params) {
        if (auto self = weak.lock())
            self->OnEvent(method, params);
    };
    page->Send("Page.enable", "{}");
    page->Send("Runtime.enable", "{}");
    page->Send("Runtime.addBinding", std::string("{\"name\":\"") + BindingName + "\"}");
    page->WatchNavigations();
    // Commands are handled in order, so the last reply means the page is ready.
    page->Send("Page.addScriptToEvaluateOnNewDocument",
               "{\"source\":" + JsonQuote(ChannelScript) + "}",
               [page, done](const JsonValue* result, const std::string&) {
                   if (!result) {
                       page->browser->cdp->listeners.erase(page->sessionId);
                       done(nullptr);
                       return;
                   }
                   page->browser->openPages++;
                   done(page);
               });
}

void Attach(const std::shared_ptr<Page>& page, std::function<void(std::shared_ptr<Page>)> done) {
    page->browser->usedTargets.insert(page->targetId);
    page->browser->cdp->Send("Target.attachToTarget",
                             "{\"targetId\":" + JsonQuote(page->targetId) + ",\"flatten\":true}",
                             "", [page, done](const JsonValue* result, const std::string&) {
                                 if (!result || result->Str("sessionId").empty())
                                     return done(nullptr);
                                 page->sessionId = result->Str("sessionId");
                                 Prepare(page, done);
                             });
}

} // namespace

void OpenPage(const std::shared_ptr<Browser>& browser, HWND parent,
              std::function<void(std::shared_ptr<Page>)> done) {
    auto page = std::make_shared<Page>();
    page->browser = browser;
    page->parent = parent;
    // The browser starts with one blank tab: the first controller takes it.
    browser->cdp->Send(
        "Target.getTargets", "{}", "", [page, done](const JsonValue* result, const std::string&) {
            if (!result)
                return done(nullptr);
            if (const JsonValue* infos = result->Find("targetInfos"))
                for (const JsonValue& info : infos->items)
                    if (info.Str("type") == "page" &&
                        !page->browser->usedTargets.count(info.Str("targetId"))) {
                        page->targetId = info.Str("targetId");
                        return Attach(page, done);
                    }
            page->browser->cdp->Send("Target.createTarget", "{\"url\":\"about:blank\"}", "",
                                     [page, done](const JsonValue* created, const std::string&) {
                                         if (!created)
                                             return done(nullptr);
                                         page->targetId = created->Str("targetId");
                                         Attach(page, done);
                                     });
        });
}
