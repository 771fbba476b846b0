// The events the real control raises before the page changes or gets more than it
// had: NavigationStarting for every top-level document request (the host's own
// Navigate, reloads, drops and whatever the page starts), cancellable; NewWindowRequested
// before a popup appears; PermissionRequested before a device or another permission is
// granted; and external drops that navigate the view unless the host turned them off.
#include "base/text.h"
#include "runtime.h"

#include <cstdio>

namespace {

const char AskBinding[] = "__ovraStandinAsk";

// Every document asks the runtime before it gets a device or another permission, and
// hands it a link dropped onto the view. Chromium itself would grant nothing here (there
// is nobody to answer its prompt) and would open a dropped link in a new tab.
const char AskScript[] = R"JS((function () {
  var ask = window.__ovraStandinAsk;
  if (typeof ask !== 'function') return;
  try { delete window.__ovraStandinAsk; } catch (e) {}
  var pending = {}, next = 1, state = { drop: true };
  Object.defineProperty(window, Symbol.for('ovraStandin'), { value: {
    answer: function (id) { var go = pending[id]; delete pending[id]; if (go) go(); },
    drop: function (allowed) { state.drop = allowed; }
  } });
  function permission(kinds) {
    return new Promise(function (resolve) {
      var id = next++;
      pending[id] = resolve;
      ask(JSON.stringify({ permission: kinds, id: id,
        gesture: !!(navigator.userActivation && navigator.userActivation.isActive) }));
    });
  }
  function guard(owner, name, kinds) {
    var original = owner && owner[name];
    if (typeof original !== 'function') return;
    owner[name] = function () {
      var self = this, args = arguments;
      var go = permission(typeof kinds === 'function' ? kinds(args[0]) : kinds)
        .then(function () { return original.apply(self, args); });
      return name === 'watchPosition' ? 0 : name === 'getCurrentPosition' ? undefined : go;
    };
  }
  guard(navigator.mediaDevices, 'getUserMedia', function (c) {
    var kinds = [];
    if (c && c.audio) kinds.push(1);
    if (c && c.video) kinds.push(2);
    return kinds;
  });
  guard(navigator.geolocation, 'getCurrentPosition', [3]);
  guard(navigator.geolocation, 'watchPosition', [3]);
  if (window.Notification) guard(Notification, 'requestPermission', [4]);
  guard(navigator.clipboard, 'readText', [6]);
  guard(navigator.clipboard, 'read', [6]);

  function refuse(e) {
    if (state.drop) return;
    e.preventDefault();
    e.stopImmediatePropagation();
    if (e.dataTransfer) e.dataTransfer.dropEffect = 'none';
  }
  ['dragenter', 'dragover', 'drop'].forEach(function (t) { window.addEventListener(t, refuse, true); });
  window.addEventListener('dragover', function (e) { if (!e.defaultPrevented) e.preventDefault(); });
  window.addEventListener('drop', function (e) {
    if (e.defaultPrevented || !e.dataTransfer) return;
    var url = (e.dataTransfer.getData('text/uri-list') || '').split(/\r?\n/)
      .filter(function (l) { return l && l.charAt(0) !== '#'; })[0];
    if (!url) return;
    e.preventDefault();
    ask(JSON.stringify({ drop: url }));
  });
})();)JS";

bool Flag(const JsonValue& value, const char* key) {
    const JsonValue* flag = value.Find(key);
    return flag && flag->boolean;
}

using ::Give;
HRESULT Give(const std::wstring& text, LPWSTR* out) {
    if (!out)
        return E_POINTER;
    *out = TaskString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

class StartingArgs final : public ComObject<ICoreWebView2NavigationStartingEventArgs,
                                            IID_ICoreWebView2NavigationStartingEventArgs> {
  public:
    StartingArgs(std::wstring uri, bool user, bool redirected, UINT64 id)
        : uri_(std::move(uri)), user_(user), redirected_(redirected), id_(id) {}
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return Give(uri_, uri); }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
        return Give(user_, value);
    }
    HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) override {
        return Give(redirected_, value);
    }
    STANDIN_NOTIMPL(get_RequestHeaders, IUnknown**)
    HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* value) override { return Give(cancel, value); }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
        cancel = value != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* value) override { return Give(id_, value); }
    bool cancel = false;

  private:
    std::wstring uri_;
    bool user_, redirected_;
    UINT64 id_;
};

class NewWindowArgs final : public ComObject<ICoreWebView2NewWindowRequestedEventArgs,
                                             IID_ICoreWebView2NewWindowRequestedEventArgs> {
  public:
    NewWindowArgs(std::wstring uri, bool user) : uri_(std::move(uri)), user_(user) {}
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return Give(uri_, uri); }
    // Showing the popup in a view of the host's is not modelled.
    STANDIN_NOTIMPL(put_NewWindow, ICoreWebView2*)
    HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** window) override {
        if (!window)
            return E_POINTER;
        *window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
        handled = value != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Handled(BOOL* value) override { return Give(handled, value); }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
        return Give(user_, value);
    }
    STANDIN_NOTIMPL(GetDeferral, ICoreWebView2Deferral**)
    STANDIN_NOTIMPL(get_WindowFeatures, IUnknown**)
    bool handled = false;

  private:
    std::wstring uri_;
    bool user_;
};

class PermissionArgs final : public ComObject<ICoreWebView2PermissionRequestedEventArgs3,
                                              IID_ICoreWebView2PermissionRequestedEventArgs3> {
  public:
    PermissionArgs(std::wstring uri, int kind, bool user)
        : uri_(std::move(uri)), kind_(kind), user_(user) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out && (IsEqualIID(riid, IID_ICoreWebView2PermissionRequestedEventArgs) ||
                    IsEqualIID(riid, IID_ICoreWebView2PermissionRequestedEventArgs2))) {
            *out = static_cast<ICoreWebView2PermissionRequestedEventArgs3*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return Give(uri_, uri); }
    HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) override {
        if (!kind)
            return E_POINTER;
        *kind = static_cast<COREWEBVIEW2_PERMISSION_KIND>(kind_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
        return Give(user_, value);
    }
    HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* value) override {
        return Give(state, value);
    }
    HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE value) override {
        if (value < COREWEBVIEW2_PERMISSION_STATE_DEFAULT ||
            value > COREWEBVIEW2_PERMISSION_STATE_DENY)
            return E_INVALIDARG;
        state = value;
        return S_OK;
    }
    STANDIN_NOTIMPL(GetDeferral, ICoreWebView2Deferral**)
    HRESULT STDMETHODCALLTYPE get_Handled(BOOL* value) override { return Give(handled, value); }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
        handled = value != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SavesInProfile(BOOL* value) override {
        return Give(saves, value);
    }
    HRESULT STDMETHODCALLTYPE put_SavesInProfile(BOOL value) override {
        saves = value != FALSE;
        return S_OK;
    }
    COREWEBVIEW2_PERMISSION_STATE state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
    bool handled = false, saves = true;

  private:
    std::wstring uri_;
    int kind_;
    bool user_;
};

// Permission answers the host let the profile keep: in the user data folder, so they
// last across runs as the real control's do. One "<kind> <state>" line per answer.
std::wstring SavedPermissionsFile(const Browser& browser) {
    return browser.folder + L"\\standin-permissions";
}

bool SavedPermission(const Browser& browser, int kind, COREWEBVIEW2_PERMISSION_STATE& state) {
    FILE* file = _wfopen(SavedPermissionsFile(browser).c_str(), L"r");
    if (!file)
        return false;
    bool found = false;
    for (int k = 0, s = 0; std::fscanf(file, "%d %d", &k, &s) == 2;) {
        if (k == kind) {
            state = static_cast<COREWEBVIEW2_PERMISSION_STATE>(s);
            found = true;
        }
    }
    std::fclose(file);
    return found;
}

void SavePermission(const Browser& browser, int kind, COREWEBVIEW2_PERMISSION_STATE state) {
    FILE* file = _wfopen(SavedPermissionsFile(browser).c_str(), L"a");
    if (!file)
        return;
    std::fprintf(file, "%d %d\n", kind, static_cast<int>(state));
    std::fclose(file);
}

// Chromium's name of a permission kind, or null for kinds the page cannot ask for here.
const char* PermissionName(int kind) {
    switch (kind) {
    case COREWEBVIEW2_PERMISSION_KIND_MICROPHONE:
        return "microphone";
    case COREWEBVIEW2_PERMISSION_KIND_CAMERA:
        return "camera";
    case COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION:
        return "geolocation";
    case COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS:
        return "notifications";
    case COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ:
        return "clipboard-read";
    default:
        return nullptr;
    }
}

// Navigations the page starts by script or by refresh are not the user's; links, forms,
// drops and whatever the host asks for are.
bool UserInitiated(const std::string& by) {
    return by != "scriptInitiated" && by != "metaTagRefresh" && by != "httpHeaderRefresh";
}

} // namespace

void Page::WatchNavigations() {
    std::weak_ptr<Page> weak = shared_from_this();
    auto& browserEvents = browser->cdp->listeners[""];
    auto previous = browserEvents;
    browserEvents = [previous, weak](const std::string& method, const JsonValue& params) {
        if (previous)
            previous(method, params);
        if (auto self = weak.lock())
            self->OnBrowserEvent(method, params);
    };
    browser->cdp->Send("Target.setDiscoverTargets", "{\"discover\":true}", "");
    Send("Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\",\"resourceType\":\"Document\","
                         "\"requestStage\":\"Request\"}]}");
    Send("Runtime.addBinding", std::string("{\"name\":\"") + AskBinding + "\"}");
    Send("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(AskScript) + "}");
}

void Page::SetExternalDrop(bool allowed) {
    allowExternalDrop = allowed;
    if (closed)
        return;
    std::string set = "(function(s){if(s)s.drop(" + std::string(allowed ? "true" : "false") +
                      ");})(window[Symbol.for('ovraStandin')]);";
    // For the document shown now, and for every later one.
    Send("Runtime.evaluate", "{\"expression\":" + JsonQuote(set) + "}");
    if (!dropScriptId.empty()) {
        RemoveScript(dropScriptId);
        dropScriptId.clear();
    }
    if (allowed)
        return;
    std::weak_ptr<Page> weak = shared_from_this();
    Send("Page.addScriptToEvaluateOnNewDocument", "{\"source\":" + JsonQuote(set) + "}",
         [weak](const JsonValue* result, const std::string&) {
             auto self = weak.lock();
             if (!self || !result)
                 return;
             if (self->allowExternalDrop)
                 self->RemoveScript(result->Str("identifier"));
             else
                 self->dropScriptId = result->Str("identifier");
         });
}

bool Page::OnNavigationEvent(const std::string& method, const JsonValue& params) {
    if (method == "Page.frameRequestedNavigation") {
        if (params.Str("frameId") != targetId || params.Str("disposition") != "currentTab")
            return true;
        nextRequestBy = params.Str("reason");
        // about:blank is never requested, so it never pauses below. The real control
        // raises the event for it too but does not honour Cancel: the page may already
        // be blank by then.
        if (params.Str("url").rfind("about:blank", 0) == 0) {
            StartingArgs* args = new StartingArgs(
                HostAddress(params.Str("url")), UserInitiated(nextRequestBy), false, ++navigations);
            nextRequestBy.clear();
            Raise(startingHandlers, view,
                  static_cast<ICoreWebView2NavigationStartingEventArgs*>(args));
            args->Release();
        }
        return true;
    }
    if (method == "Page.windowOpen") {
        NewWindowArgs* args =
            new NewWindowArgs(HostAddress(params.Str("url")), Flag(params, "userGesture"));
        Raise(newWindowHandlers, view,
              static_cast<ICoreWebView2NewWindowRequestedEventArgs*>(args));
        popupsHandled.push_back(args->handled);
        args->Release();
        return true;
    }
    if (method == "Fetch.requestPaused") {
        std::string request = JsonQuote(params.Str("requestId"));
        // Frames inside the page navigate on their own.
        if (params.Str("frameId") != targetId) {
            Send("Fetch.continueRequest", "{\"requestId\":" + request + "}");
            return true;
        }
        const JsonValue* details = params.Find("request");
        bool redirected = params.Has("redirectedRequestId");
        std::string by = nextRequestBy;
        if (!redirected) {
            ++navigations;
            nextRequestBy.clear();
        }
        StartingArgs* args = new StartingArgs(HostAddress(details ? details->Str("url") : ""),
                                              UserInitiated(by), redirected, navigations);
        Raise(startingHandlers, view, static_cast<ICoreWebView2NavigationStartingEventArgs*>(args));
        bool cancel = args->cancel;
        args->Release();
        RecordHostCall("navigation " + (details ? details->Str("url") : std::string()) +
                       (cancel ? " cancelled" : " allowed"));
        if (closed)
            return true;
        if (!cancel) {
            Send("Fetch.continueRequest", "{\"requestId\":" + request + "}");
            return true;
        }
        Send("Fetch.failRequest", "{\"requestId\":" + request + ",\"errorReason\":\"Aborted\"}");
        // The host's Navigate learns of it from Chromium's answer; anything else from us.
        if (by != "navigate")
            FinishNavigation(false);
        return true;
    }
    if (method == "Runtime.bindingCalled" && params.Str("name") == AskBinding) {
        JsonValue ask;
        if (!ParseJson(params.Str("payload"), ask))
            return true;
        int context = static_cast<int>(params.Num("executionContextId"));
        if (ask.Has("drop")) {
            // Dropped onto the view: the view goes there, as the real control's does.
            if (allowExternalDrop) {
                nextRequestBy = "drop";
                Send("Page.navigate",
                     "{\"url\":" + JsonQuote(MapUrl(FromUtf8(ask.Str("drop")))) + "}");
            }
            return true;
        }
        const JsonValue* kinds = ask.Find("permission");
        bool gesture = Flag(ask, "gesture");
        std::wstring requester = SourceOfContext(context);
        std::vector<std::pair<const char*, bool>> answers;
        for (const JsonValue& item : kinds ? kinds->items : std::vector<JsonValue>()) {
            int kind = static_cast<int>(item.number);
            if (!PermissionName(kind))
                continue;
            COREWEBVIEW2_PERMISSION_STATE state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
            if (!SavedPermission(*browser, kind, state)) {
                PermissionArgs* args = new PermissionArgs(requester, kind, gesture);
                Raise(permissionHandlers, view,
                      static_cast<ICoreWebView2PermissionRequestedEventArgs*>(args));
                state = args->state;
                // Left at default, the real control would show its prompt; nobody answers
                // it here, which is a refusal that is not remembered.
                if (args->saves && state != COREWEBVIEW2_PERMISSION_STATE_DEFAULT)
                    SavePermission(*browser, kind, state);
                args->Release();
            }
            answers.emplace_back(PermissionName(kind),
                                 state == COREWEBVIEW2_PERMISSION_STATE_ALLOW);
        }
        if (closed)
            return true;
        std::string answer =
            "{\"expression\":" +
            JsonQuote("window[Symbol.for('ovraStandin')].answer(" +
                      std::to_string(static_cast<long long>(ask.Num("id"))) + ")") +
            ",\"contextId\":" + std::to_string(context) + "}";
        std::weak_ptr<Page> weak = shared_from_this();
        auto release = [weak, answer](const JsonValue*, const std::string&) {
            if (auto self = weak.lock())
                self->Send("Runtime.evaluate", answer);
        };
        // The page goes on once Chromium holds every answer.
        for (size_t i = 0; i < answers.size(); ++i)
            browser->cdp->Send("Browser.setPermission",
                               std::string("{\"permission\":{\"name\":\"") + answers[i].first +
                                   "\"},\"setting\":\"" +
                                   (answers[i].second ? "granted" : "denied") + "\"}",
                               "", i + 1 == answers.size() ? release : CdpConnection::Reply());
        if (answers.empty())
            release(nullptr, "");
        return true;
    }
    return false;
}

void Page::OnBrowserEvent(const std::string& method, const JsonValue& params) {
    if (closed || method != "Target.targetCreated")
        return;
    const JsonValue* info = params.Find("targetInfo");
    if (!info || info->Str("openerId") != targetId || info->Str("type") != "page")
        return;
    // The popup Chromium opened for a window the page asked for: a handled request
    // leaves none, as in the real control.
    bool handled = !popupsHandled.empty() && popupsHandled.front();
    if (!popupsHandled.empty())
        popupsHandled.erase(popupsHandled.begin());
    if (handled)
        browser->cdp->Send("Target.closeTarget",
                           "{\"targetId\":" + JsonQuote(info->Str("targetId")) + "}", "");
}

void Page::ReleaseNavigationHandlers() {
    auto release = [](auto& handlers) {
        auto taken = std::move(handlers);
        handlers.clear();
        for (auto& entry : taken)
            entry.second->Release();
    };
    release(startingHandlers);
    release(newWindowHandlers);
    release(permissionHandlers);
}
