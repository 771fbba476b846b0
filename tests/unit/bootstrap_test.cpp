#include <doctest/doctest.h>

#include "base/globals.h"
#include "browser/bootstrap.h"
#include "browser/browser_state.h"

#include "fake_com.h"

namespace {

HRESULT STDMETHODCALLTYPE CreateController(FakeObject* self, HWND parent, void*) {
    Calls.push_back(std::string(self->name) + ".CreateCoreWebView2Controller" +
                    (parent == MainWindow ? " in MainWindow" : ""));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Close(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".Close");
    return S_OK;
}

HWND NewWindow() {
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

} // namespace

TEST_CASE("a creation result that arrives after the window is gone does nothing") {
    Fake environment("environment"), controller("controller");
    environment.table[3] = reinterpret_cast<void*>(&CreateController);
    controller.table[24] = reinterpret_cast<void*>(&Close);

    // With the window there, the environment goes on to the controller...
    MainWindow = NewWindow();
    REQUIRE(MainWindow);
    Calls.clear();
    CHECK(OnEnvironmentCreated(S_OK, environment.as<ICoreWebView2Environment>()) == S_OK);
    CHECK(Calls ==
          std::vector<std::string>{"environment.CreateCoreWebView2Controller in MainWindow"});
    TearDownBrowser();

    // ...once it has been closed, neither result is taken up; the orphaned controller is
    // closed, since nothing else ever would.
    DestroyWindow(MainWindow);
    Calls.clear();
    CHECK(OnEnvironmentCreated(S_OK, environment.as<ICoreWebView2Environment>()) == S_OK);
    CHECK(OnControllerCreated(S_OK, controller.as<ICoreWebView2Controller>()) == S_OK);
    CHECK(Calls == std::vector<std::string>{"controller.Close"});
    CHECK_FALSE(BrowserEnvironment);
    CHECK_FALSE(BrowserController);
    CHECK_FALSE(BrowserView);
    MainWindow = nullptr;
}
