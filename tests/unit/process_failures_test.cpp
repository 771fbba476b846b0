#include <doctest/doctest.h>

#include "base/globals.h"
#include "browser/browser_state.h"
#include "browser/process_failures.h"

#include "fake_com.h"
#include "host_window.h"

namespace {

COREWEBVIEW2_PROCESS_FAILED_KIND Kind;

HRESULT STDMETHODCALLTYPE GetKind(FakeObject*, COREWEBVIEW2_PROCESS_FAILED_KIND* kind) {
    *kind = Kind;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Reload(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".Reload");
    return S_OK;
}

void Fail(Fake& view, Fake& args, COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    Kind = kind;
    OnProcessFailed(view.as<ICoreWebView2>(), args.as<ICoreWebView2ProcessFailedEventArgs>());
}

} // namespace

TEST_CASE("a failing renderer is reloaded three times a minute, then the window says so") {
    Fake view("view"), args("args");
    view.table[31] = reinterpret_cast<void*>(&Reload);
    args.table[3] = reinterpret_cast<void*>(&GetKind);
    ScratchMainWindow window;
    REQUIRE(MainWindow);
    BrowserView.Share(view.as<ICoreWebView2>());
    Calls.clear();

    // Helper processes come back by themselves: no reload, nothing else.
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED);
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED);
    RunPendingTimers();
    CHECK(Calls.empty());

    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    CHECK(Calls == std::vector<std::string>{"view.Reload", "view.Reload", "view.Reload"});
    Calls.clear();
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
    RunPendingTimers();
    CHECK(Calls == std::vector<std::string>{"view.Release"});
    CHECK_FALSE(BrowserView);
    REQUIRE(BrowserNotice);
}

TEST_CASE("failures age out: a renderer's after a minute, the browser's after five") {
    unsigned long long t = 1ull << 40;
    CHECK(RendererMayReload(t));
    CHECK(RendererMayReload(t + 1000));
    CHECK(RendererMayReload(t + 2000));
    CHECK_FALSE(RendererMayReload(t + 3000));
    // The first two have aged out; the two after them still count.
    CHECK(RendererMayReload(t + 61500));
    CHECK_FALSE(RendererMayReload(t + 61600));

    CHECK(BrowserMayRestart(t));
    CHECK(BrowserMayRestart(t + 60000));
    CHECK(BrowserMayRestart(t + 120000));
    CHECK_FALSE(BrowserMayRestart(t + 240000));
    // Only the first has aged out: still four within five minutes.
    CHECK_FALSE(BrowserMayRestart(t + 330000));
    // Three of them gone by now.
    CHECK(BrowserMayRestart(t + 430000));
}

TEST_CASE("a browser process that keeps dying is recreated three times, then the window says so") {
    Fake view("view"), args("args");
    args.table[3] = reinterpret_cast<void*>(&GetKind);
    ScratchMainWindow window;
    REQUIRE(MainWindow);
    BrowserView.Share(view.as<ICoreWebView2>());
    Calls.clear();

    // Each restart lets the dead view go and starts a new browser (which finds no runtime
    // here and stops).
    for (int i = 0; i < 3; ++i) {
        Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
        RunPendingTimers();
        CHECK_FALSE(BrowserNotice);
    }
    CHECK(Calls == std::vector<std::string>{"view.Release"});
    Fail(view, args, COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
    RunPendingTimers();
    CHECK(BrowserNotice);
}
