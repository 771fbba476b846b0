// The runtime's entry point and its environment object: one Chromium per environment.
#include "base/task_memory.h"
#include "base/text.h"
#include "launch.h"
#include "runtime.h"

#include <objbase.h>
#include <shlobj.h>

#include <thread>

const wchar_t* const StandinVersion = OVRA_STANDIN_VERSION;

bool FaultRequested(const wchar_t* name) {
    return EnvVar(L"OVRA_STANDIN_FAULT") == name;
}

std::string ToUtf8(const std::wstring& text) {
    return WideToUtf8(text);
}

std::wstring FromUtf8(const std::string& text) {
    return Utf8ToWide(text);
}

LPWSTR TaskString(const std::wstring& text) {
    LPWSTR copy = nullptr;
    CopyToTaskMemory(text, &copy);
    return copy;
}

void Browser::Shutdown() {
    TraceProtocol("browser: shutting down");
    closing = true;
    // With a lingering browser the host's close leaves it running for a while, as a
    // real one can be slow to let go of its profile.
    bool linger = _wtoi(EnvVar(L"OVRA_STANDIN_LINGER_MS").c_str()) > 0;
    if (cdp && cdp->open) {
        // The views go with the host's close even while the browser stays.
        if (linger)
            for (const std::string& target : usedTargets)
                cdp->Send("Target.closeTarget", "{\"targetId\":" + JsonQuote(target) + "}", "");
        if (!linger) {
            cdp->Send("Browser.close", "{}", "");
            // Give Chromium the time to write its profile (local storage) before the guard
            // signals whatever is left.
            WaitForSingleObject(disconnected, 3000);
        }
        cdp->Close();
    }
    // Half-closed: the guard ends what is left and then reports on the same connection.
    if (lifeline != INVALID_SOCKET) {
        send(lifeline, "close\n", 6, 0);
        shutdown(lifeline, SD_SEND);
    }
}

namespace {

// Environment5 is the newest interface the stand-in offers; the ones between are only its
// base slots.
class Environment final
    : public ComObject<ICoreWebView2Environment5, IID_ICoreWebView2Environment5> {
  public:
    explicit Environment(std::shared_ptr<Browser> browser) : browser_(std::move(browser)) {
        browser_->environment = this;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const IID* older[] = {&IID_ICoreWebView2Environment, &IID_ICoreWebView2Environment2,
                              &IID_ICoreWebView2Environment3, &IID_ICoreWebView2Environment4};
        for (const IID* iid : older)
            if (out && IsEqualIID(riid, *iid)) {
                *out = static_cast<ICoreWebView2Environment5*>(this);
                AddRef();
                return S_OK;
            }
        return ComObject::QueryInterface(riid, out);
    }

    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
        if (!handler)
            return E_POINTER;
        // The request itself refused: the handler never runs.
        if (FaultRequested(L"controller-request"))
            return E_ACCESSDENIED;
        // Its browser processes are gone: nothing can be created on it any more.
        if (browser_->gone)
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        handler->AddRef();
        auto finish = [handler](HRESULT hr, ICoreWebView2Controller* controller) {
            handler->Invoke(hr, controller);
            handler->Release();
        };
        if (FaultRequested(L"controller")) {
            PostToUi(browser_->ui, [finish] { finish(E_FAIL, nullptr); });
            return S_OK;
        }
        OpenPage(browser_, parent, [finish](std::shared_ptr<Page> page) {
            if (!page)
                return finish(E_FAIL, nullptr);
            ICoreWebView2Controller* controller = NewController(page);
            finish(S_OK, controller);
            controller->Release();
        });
        return S_OK;
    }
    STANDIN_NOTIMPL(CreateWebResourceResponse, IStream*, int, LPCWSTR, LPCWSTR, IUnknown**)
    HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override {
        if (!version)
            return E_POINTER;
        *version = TaskString(StandinVersion);
        return *version ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE
    add_NewBrowserVersionAvailable(IUnknown* handler, EventRegistrationToken* token) override {
        return AddToHandlers(
            browser_->versionHandlers, browser_->nextToken,
            reinterpret_cast<ICoreWebView2NewBrowserVersionAvailableEventHandler*>(handler), token);
    }
    HRESULT STDMETHODCALLTYPE
    remove_NewBrowserVersionAvailable(EventRegistrationToken token) override {
        return RemoveHandler(browser_->versionHandlers, token);
    }
    STANDIN_NOTIMPL(CreateWebResourceRequest, LPCWSTR, LPCWSTR, IStream*, LPCWSTR, IUnknown**)
    STANDIN_NOTIMPL(CreateCoreWebView2CompositionController, HWND, IUnknown*)
    STANDIN_NOTIMPL(CreateCoreWebView2PointerInfo, IUnknown**)
    STANDIN_NOTIMPL(GetAutomationProviderForWindow, HWND, IUnknown**)
    HRESULT STDMETHODCALLTYPE
    add_BrowserProcessExited(ICoreWebView2BrowserProcessExitedEventHandler* handler,
                             EventRegistrationToken* token) override {
        return AddToHandlers(browser_->exitHandlers, browser_->nextToken, handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_BrowserProcessExited(EventRegistrationToken token) override {
        return RemoveHandler(browser_->exitHandlers, token);
    }

  private:
    ~Environment() override {
        browser_->environment = nullptr;
        if (browser_->openPages == 0)
            browser_->Shutdown();
    }
    std::shared_ptr<Browser> browser_;
};

// What the launch thread hands back to the UI thread.
struct Started {
    LaunchResult launch;
    std::shared_ptr<CdpConnection> cdp;
    HANDLE disconnected = nullptr;
};

Started Start(const std::wstring& userDataFolder, const std::wstring& arguments) {
    Started started;
    started.launch = LaunchChromium(userDataFolder, arguments);
    if (FAILED(started.launch.hr))
        return started;
    started.cdp = std::make_shared<CdpConnection>();
    if (!WsConnect(started.cdp->ws, started.launch.port, started.launch.browserPath)) {
        closesocket(started.launch.lifeline);
        started.launch.hr = HRESULT_FROM_WIN32(ERROR_CONNECTION_REFUSED);
    }
    return started;
}

void Finish(HWND ui, Started started, unsigned long background, const std::wstring& folder,
            ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    TraceProtocol("environment: launch result " + std::to_string(started.launch.hr) + " port " +
                  std::to_string(started.launch.port));
    if (FAILED(started.launch.hr)) {
        handler->Invoke(started.launch.hr, nullptr);
        handler->Release();
        return;
    }
    auto browser = std::make_shared<Browser>();
    browser->ui = ui;
    browser->port = started.launch.port;
    browser->background = background;
    browser->lifeline = started.launch.lifeline;
    browser->cdp = started.cdp;
    browser->cdp->ui = ui;
    browser->disconnected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    browser->folder = folder;
    std::weak_ptr<Browser> weak = browser;
    browser->cdp->lost = [weak] {
        if (auto alive = weak.lock())
            BrowserGone(alive);
    };
    browser->cdp->StartReading(browser->disconnected);
    AwaitBrowserExit(browser);
    Environment* environment = new Environment(browser);
    handler->Invoke(S_OK, environment);
    environment->Release();
    handler->Release();
}

std::wstring DefaultUserDataFolder() {
    wchar_t exe[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    return std::wstring(exe, n) + L".WebView2";
}

} // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    BOOL, int, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (!handler)
        return E_POINTER;
    if (FaultRequested(L"create-env"))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    static WSADATA winsock;
    static int winsockStarted = WSAStartup(MAKEWORD(2, 2), &winsock);
    if (winsockStarted != 0)
        return HRESULT_FROM_WIN32(winsockStarted);

    std::wstring folder =
        userDataFolder && *userDataFolder ? userDataFolder : DefaultUserDataFolder();
    int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return HRESULT_FROM_WIN32(made);
    std::wstring arguments;
    LPWSTR given = nullptr;
    if (options && SUCCEEDED(options->get_AdditionalBrowserArguments(&given)) && given) {
        arguments = given;
        CoTaskMemFree(given);
    }
    // Read at creation, as the real runtime reads it: AARRGGBB in hexadecimal.
    std::wstring colour = EnvVar(L"WEBVIEW2_DEFAULT_BACKGROUND_COLOR");
    wchar_t* end = nullptr;
    unsigned long background = wcstoul(colour.c_str(), &end, 16);
    if (colour.empty() || *end)
        background = 0xFFFFFFFF;
    HWND ui = CreateUiWindow();
    if (!ui)
        return HRESULT_FROM_WIN32(GetLastError());

    // Creation finishes later, on this thread's message loop, as the real runtime's does.
    handler->AddRef();
    bool fail = FaultRequested(L"env");
    std::thread([ui, folder, arguments, handler, fail, background] {
        Started started;
        if (!fail)
            started = Start(folder, arguments);
        TraceProtocol("environment: launched, posting to the UI thread");
        PostToUi(ui, [ui, started, handler, background, folder] {
            Finish(ui, started, background, folder, handler);
        });
    }).detach();
    return S_OK;
}
