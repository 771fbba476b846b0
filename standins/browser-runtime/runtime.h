// Shared state of the stand-in runtime: one Chromium per environment, one page target
// per controller. Everything here lives on the thread that created the environment.
#pragma once

#include "webview2/webview2.h"
#include "cdp.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Test switches, from OVRA_STANDIN_FAULT: "create-env" (the export fails at once),
// "env" (environment creation completes with a failure), "controller",
// "controller-request", "no-view", "nav-hang"
// (navigations never report completion).
bool FaultRequested(const wchar_t* name);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
LPWSTR TaskString(const std::wstring& text); // CoTaskMemAlloc'd copy, or null

// IUnknown for a COM object with one interface besides IUnknown.
template <typename Interface, const IID& Iid> class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Iid)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        int left = --refs_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

  protected:
    virtual ~ComObject() = default;

  private:
    int refs_ = 1;
};

#define STANDIN_NOTIMPL(name, ...)                                                                 \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override {                                         \
        return E_NOTIMPL;                                                                          \
    }
#define STANDIN_NO_EVENT(name)                                                                     \
    STANDIN_NOTIMPL(add_##name, IUnknown*, EventRegistrationToken*)                                \
    STANDIN_NOTIMPL(remove_##name, EventRegistrationToken)

// Raises an event. Each handler is held while it runs: it may add or remove handlers,
// or close the view.
// Hands a getter's value to the caller, as every getter of the control does.
template <typename Out, typename Value> HRESULT Give(Value value, Out* out) {
    if (!out)
        return E_POINTER;
    *out = static_cast<Out>(value);
    return S_OK;
}

template <typename Handler, typename Sender, typename Args>
void Raise(const std::map<__int64, Handler*>& handlers, Sender* sender, Args* args) {
    std::vector<Handler*> copy;
    for (const auto& entry : handlers) {
        entry.second->AddRef();
        copy.push_back(entry.second);
    }
    for (Handler* handler : copy) {
        handler->Invoke(sender, args);
        handler->Release();
    }
}

// Keeps a reference to `handler` under a new token.
template <typename Handler>
HRESULT AddToHandlers(std::map<__int64, Handler*>& handlers, __int64& nextToken, Handler* handler,
                      EventRegistrationToken* token) {
    if (!handler || !token)
        return E_POINTER;
    handler->AddRef();
    token->value = nextToken++;
    handlers[token->value] = handler;
    return S_OK;
}

template <typename Handler>
HRESULT RemoveHandler(std::map<__int64, Handler*>& handlers, EventRegistrationToken token) {
    auto it = handlers.find(token.value);
    if (it != handlers.end()) {
        Handler* handler = it->second;
        handlers.erase(it);
        handler->Release();
    }
    return S_OK;
}

struct Page;

struct Browser {
    HWND ui = nullptr;
    std::shared_ptr<CdpConnection> cdp;
    SOCKET lifeline = INVALID_SOCKET;
    HANDLE disconnected = nullptr; // set by the reader thread when the connection ends
    int port = 0;
    // WEBVIEW2_DEFAULT_BACKGROUND_COLOR as the environment found it (AARRGGBB); white,
    // as the real control paints, when unset.
    unsigned long background = 0xFFFFFFFF;
    std::set<std::string> usedTargets;
    int openPages = 0;
    std::wstring folder;                             // the user data folder
    ICoreWebView2Environment* environment = nullptr; // not owned: set while the object lives
    std::vector<std::weak_ptr<Page>> pages;
    // The browser processes went away without being asked (killed, crashed, connection
    // lost): every view of this environment is dead for good.
    bool gone = false;
    // The host let go of the browser: the end that follows is a normal one.
    bool closing = false;
    UINT_PTR watchTimer = 0;
    // The GPU process last seen (0: none yet), and whether a look is under way.
    double gpuProcess = 0;
    bool lookingForGpu = false;
    __int64 nextToken = 1;
    std::map<__int64, ICoreWebView2BrowserProcessExitedEventHandler*> exitHandlers;
    std::map<__int64, ICoreWebView2NewBrowserVersionAvailableEventHandler*> versionHandlers;

    // Closes Chromium gracefully (so its profile is written out), then lets the guard
    // end whatever is left.
    void Shutdown();
};

struct Page : std::enable_shared_from_this<Page> {
    std::shared_ptr<Browser> browser;
    std::string targetId, sessionId;
    ICoreWebView2* view = nullptr; // not owned: the controller owns the view object
    HWND parent = nullptr;
    RECT bounds{};
    bool closed = false;
    // The view's own child window in the parent, as the real control has one: it takes
    // the keyboard focus (MoveFocus or a click) and hands keys to the page, and paints
    // the default background colour where the page is not drawn.
    HWND window = nullptr;
    bool visible = true;
    // In a visible browser: the browser window's frame around the page, measured once.
    bool insetsKnown = false;
    RECT insets{};

    bool scriptEnabled = true, webMessageEnabled = true, contextMenus = true, zoomControl = true,
         devTools = true, statusBar = true, scriptDialogs = true, hostObjects = true,
         errorPage = true;
    std::string guardScriptId;
    int guardGeneration = 0;

    std::wstring requestedUri; // as the host gave it
    std::string requestedUrl;  // as Chromium got it
    std::string currentUrl;
    // Which document posts a message: execution context -> frame -> the frame's URL.
    std::string mainFrameId;
    std::map<int, std::string> contextFrames;
    std::map<std::string, std::string> frameUrls;
    bool committed = false, commitSucceeded = false;
    UINT64 navigations = 0;

    __int64 nextToken = 1;
    std::map<__int64, ICoreWebView2NavigationCompletedEventHandler*> navHandlers;
    std::map<__int64, ICoreWebView2WebMessageReceivedEventHandler*> messageHandlers;
    std::map<__int64, ICoreWebView2ProcessFailedEventHandler*> failHandlers;
    // The hang probe: a trivial evaluation that the page answers at once unless its
    // renderer is stuck.
    bool probing = false, unresponsive = false, crashed = false;
    ULONGLONG probeSentAt = 0;

    // Navigation, new-window, drop and permission events (navigation_events.cpp).
    bool allowExternalDrop = true;
    std::map<__int64, ICoreWebView2NavigationStartingEventHandler*> startingHandlers;
    std::map<__int64, ICoreWebView2NewWindowRequestedEventHandler*> newWindowHandlers;
    std::map<__int64, ICoreWebView2PermissionRequestedEventHandler*> permissionHandlers;
    // Who asked for the next document request: "navigate" or "reload" from the host,
    // else the reason Chromium gave for a navigation the page started.
    std::string nextRequestBy;
    // For each window the page asked for, in order: whether the host handled it, so
    // the popup Chromium opens for it is to be closed again.
    std::vector<bool> popupsHandled;
    std::string dropScriptId;

    // Sets up the events above; part of preparing the page, before any navigation.
    void WatchNavigations();
    // True when `method` was one of the events above.
    bool OnNavigationEvent(const std::string& method, const JsonValue& params);
    void OnBrowserEvent(const std::string& method, const JsonValue& params);
    void SetExternalDrop(bool allowed);
    void ReleaseNavigationHandlers();
    // `url` as Chromium has it, spelled as the real control reports it.
    std::wstring HostAddress(const std::string& url) const;

    void Send(const std::string& method, const std::string& params,
              CdpConnection::Reply reply = CdpConnection::Reply());
    void OnEvent(const std::string& method, const JsonValue& params);
    void Navigate(const std::wstring& uri);
    void FinishNavigation(bool success);
    void DeliverMessage(const std::string& payload, int contextId);
    void ApplyGuards();
    void RemoveScript(const std::string& id);
    void SetBounds(const RECT& rect);
    void PlaceBrowserWindow();
    void CreateWindowInParent();
    void MoveFocus(int reason);
    void SetVisible(bool shown);
    void ParentMoved();
    // A key or mouse message the view window received, for the page.
    void ForwardInput(UINT message, WPARAM wParam, LPARAM lParam);
    void OpenDevTools();
    std::wstring Source() const;
    // The URL of the document in `contextId`, as the host would name it.
    std::wstring SourceOfContext(int contextId) const;
    void Close();
    // Crash and navigation events of the renderer; true when the event was only ours.
    bool OnProcessEvent(const std::string& method, const JsonValue& params);
    void RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind);
    void Probe();
};

// Watches a page for renderer crashes and hangs, as the real runtime does.
void WatchPage(const std::shared_ptr<Page>& page);

// The browser's DevTools connection ended without the host closing it.
void BrowserGone(const std::shared_ptr<Browser>& browser);

// Waits, off the UI thread, for the guard to report that every browser process has
// ended, then raises BrowserProcessExited.
void AwaitBrowserExit(const std::shared_ptr<Browser>& browser);

// Maps a host URL to what Chromium should load: "file:///C:/..." (or a share) becomes
// the file's Linux path; other URLs pass unchanged.
std::string MapUrl(const std::wstring& uri);

// A Windows file URL in the control's canonical spelling; other URLs unchanged.
std::wstring CanonicalAddress(const std::wstring& uri);

// Attaches a new page target of `browser` and prepares it; `done` gets the ready page,
// or null.
void OpenPage(const std::shared_ptr<Browser>& browser, HWND parent,
              std::function<void(std::shared_ptr<Page>)> done);

// The COM face of a prepared page.
ICoreWebView2Controller* NewController(const std::shared_ptr<Page>& page);

extern const wchar_t* const StandinVersion;
