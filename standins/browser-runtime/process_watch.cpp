// The browser's processes failing as the real runtime reports it: a renderer that
// crashes or stops answering, a GPU process that dies (and comes back by itself), a
// browser process that goes away, and the end of all browser processes once the host
// let go of them.
#include "launch.h"
#include "runtime.h"

#include <cmath>
#include <thread>

namespace {

// How long a page may leave the probe unanswered before it counts as unresponsive.
ULONGLONG HangMs() {
    int ms = _wtoi(EnvVar(L"OVRA_STANDIN_HANG_MS").c_str());
    return ms > 0 ? static_cast<ULONGLONG>(ms) : 6000;
}

class FailedArgs final : public ComObject<ICoreWebView2ProcessFailedEventArgs,
                                          IID_ICoreWebView2ProcessFailedEventArgs> {
  public:
    explicit FailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) : kind_(kind) {}
    HRESULT STDMETHODCALLTYPE
    get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override {
        return Give(kind_, kind);
    }

  private:
    COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

class ExitedArgs final : public ComObject<ICoreWebView2BrowserProcessExitedEventArgs,
                                          IID_ICoreWebView2BrowserProcessExitedEventArgs> {
  public:
    explicit ExitedArgs(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND kind) : kind_(kind) {}
    HRESULT STDMETHODCALLTYPE
    get_BrowserProcessExitKind(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND* kind) override {
        return Give(kind_, kind);
    }
    HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* id) override {
        return Give(0, id); // a Linux process: no Windows id to give
    }

  private:
    COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND kind_;
};

std::map<UINT_PTR, std::weak_ptr<Browser>> Watched;

// A runtime update landed: the test asks for the event by putting this file into the
// user data folder, where the real runtime would find a new version installed.
void CheckNewVersion(Browser& browser) {
    std::wstring mark = browser.folder + L"\\standin-new-version";
    if (!DeleteFileW(mark.c_str()))
        return;
    Raise(browser.versionHandlers, browser.environment, static_cast<IUnknown*>(nullptr));
}

// Chromium starts a dead GPU process again by itself, so a new one (or none yet) is the
// sign that the last one died; every view of the browser hears of it.
void SawProcesses(Browser& browser, const JsonValue* list) {
    double gpu = 0;
    for (const JsonValue& process : list->items)
        if (process.Str("type") == "GPU")
            gpu = process.Num("id");
    bool died = browser.gpuProcess && gpu != browser.gpuProcess;
    if (gpu && gpu != browser.gpuProcess)
        TraceProtocol("gpu process " + std::to_string(std::llround(gpu)));
    browser.gpuProcess = gpu;
    if (!died)
        return;
    std::vector<std::weak_ptr<Page>> pages = browser.pages;
    for (const std::weak_ptr<Page>& weak : pages)
        if (auto page = weak.lock(); page && !page->closed)
            page->RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED);
}

void CheckGpuProcess(const std::shared_ptr<Browser>& browser) {
    if (browser->lookingForGpu || !browser->cdp)
        return;
    browser->lookingForGpu = true;
    std::weak_ptr<Browser> weak = browser;
    auto reply = [weak](const JsonValue* result, const std::string&) {
        auto self = weak.lock();
        if (!self)
            return;
        self->lookingForGpu = false;
        const JsonValue* list = result ? result->Find("processInfo") : nullptr;
        if (list && !self->gone)
            SawProcesses(*self, list);
    };
    browser->cdp->Send("SystemInfo.getProcessInfo", "{}", "", reply);
}

void CALLBACK OnWatchTimer(HWND, UINT, UINT_PTR id, DWORD) {
    auto found = Watched.find(id);
    std::shared_ptr<Browser> browser = found == Watched.end() ? nullptr : found->second.lock();
    if (!browser || browser->gone) {
        KillTimer(nullptr, id);
        Watched.erase(id);
        if (browser)
            browser->watchTimer = 0;
        return;
    }
    CheckNewVersion(*browser);
    CheckGpuProcess(browser);
    std::vector<std::weak_ptr<Page>> pages = browser->pages;
    for (const std::weak_ptr<Page>& weak : pages)
        if (auto page = weak.lock())
            page->Probe();
}

} // namespace

bool Page::OnProcessEvent(const std::string& method, const JsonValue&) {
    if (method == "Inspector.targetCrashed") {
        crashed = true;
        // A probe the dead renderer never answered says nothing of the next one: counted
        // against the reloaded page, it would be a second failure for one crash.
        probing = false;
        unresponsive = false;
        // The view shows the browser's error page until the host reloads.
        RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
        return true;
    }
    if (method == "Page.frameNavigated")
        crashed = false; // a new renderer has the page
    return false;
}

void Page::RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    TraceProtocol("process failed: kind " + std::to_string(kind));
    RecordHostCall("failed " + std::to_string(kind));
    FailedArgs* args = new FailedArgs(kind);
    Raise(failHandlers, view, static_cast<ICoreWebView2ProcessFailedEventArgs*>(args));
    args->Release();
}

void Page::Probe() {
    if (closed || crashed || browser->gone)
        return;
    if (probing) {
        if (!unresponsive && GetTickCount64() - probeSentAt >= HangMs()) {
            unresponsive = true;
            RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
        }
        return;
    }
    probing = true;
    probeSentAt = GetTickCount64();
    std::weak_ptr<Page> weak = shared_from_this();
    // Any answer, an error included (the document went away meanwhile), shows a renderer
    // that still handles its tasks.
    Send("Runtime.evaluate", "{\"expression\":\"0\"}",
         [weak](const JsonValue*, const std::string&) {
             if (auto self = weak.lock()) {
                 self->probing = false;
                 self->unresponsive = false;
             }
         });
}

void WatchPage(const std::shared_ptr<Page>& page) {
    std::shared_ptr<Browser> browser = page->browser;
    browser->pages.push_back(page);
    page->Send("Inspector.enable", "{}");
    if (browser->watchTimer)
        return;
    browser->watchTimer = SetTimer(nullptr, 0, 1000, OnWatchTimer);
    if (browser->watchTimer)
        Watched[browser->watchTimer] = browser;
}

void BrowserGone(const std::shared_ptr<Browser>& browser) {
    if (browser->closing || browser->gone)
        return;
    browser->gone = true;
    TraceProtocol("browser: connection lost");
    std::vector<std::weak_ptr<Page>> pages = browser->pages;
    for (const std::weak_ptr<Page>& weak : pages) {
        auto page = weak.lock();
        if (page && !page->closed)
            page->RaiseProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
    }
}

void AwaitBrowserExit(const std::shared_ptr<Browser>& browser) {
    SOCKET lifeline = browser->lifeline;
    HWND ui = browser->ui;
    std::thread([browser, lifeline, ui] {
        // The guard writes once everything has ended, or the connection simply closes.
        std::string said;
        char buffer[64];
        for (int got; said.find("exited") == std::string::npos &&
                      (got = recv(lifeline, buffer, sizeof buffer, 0)) > 0;)
            said.append(buffer, static_cast<size_t>(got));
        PostToUi(ui, [browser] {
            if (browser->lifeline != INVALID_SOCKET) {
                closesocket(browser->lifeline);
                browser->lifeline = INVALID_SOCKET;
            }
            BrowserGone(browser);
            TraceProtocol("browser: every process has ended");
            ExitedArgs* args =
                new ExitedArgs(browser->closing ? COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND_NORMAL
                                                : COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND_FAILED);
            Raise(browser->exitHandlers, browser->environment,
                  static_cast<ICoreWebView2BrowserProcessExitedEventArgs*>(args));
            args->Release();
        });
    }).detach();
}
