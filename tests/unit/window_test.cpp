#include <doctest/doctest.h>

#include "base/globals.h"
#include "app/window.h"
#include "browser/browser_state.h"

#include "allocations.h"
#include "fake_com.h"

#include <string>
#include <utility>
#include <vector>

namespace {

HRESULT STDMETHODCALLTYPE ExecuteScript(FakeObject* self, LPCWSTR script, void* handler) {
    std::wstring text(script);
    Calls.push_back(std::string(self->name) + ".ExecuteScript " +
                    std::string(text.begin(), text.end()) + (handler ? " with handler" : ""));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Reload(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".Reload");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE OpenDevTools(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".OpenDevToolsWindow");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Close(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".Close");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PutBounds(FakeObject* self, RECT bounds) {
    Calls.push_back(std::string(self->name) + ".put_Bounds " + std::to_string(bounds.right) + "x" +
                    std::to_string(bounds.bottom));
    return S_OK;
}

BOOL ControllerVisible = TRUE;
HRESULT STDMETHODCALLTYPE GetIsVisible(FakeObject*, BOOL* visible) {
    *visible = ControllerVisible;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PutIsVisible(FakeObject* self, BOOL visible) {
    ControllerVisible = visible;
    Calls.push_back(std::string(self->name) + ".put_IsVisible " + std::to_string(visible));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE MoveFocus(FakeObject* self, int reason) {
    Calls.push_back(std::string(self->name) + ".MoveFocus " + std::to_string(reason));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE NotifyMoved(FakeObject* self) {
    Calls.push_back(std::string(self->name) + ".NotifyParentWindowPositionChanged");
    return S_OK;
}

struct MainWindowFixture {
    Fake view{"view"}, controller{"controller"}, environment{"environment"};
    HWND window;

    MainWindowFixture() {
        view.table[29] = reinterpret_cast<void*>(&ExecuteScript);
        view.table[31] = reinterpret_cast<void*>(&Reload);
        view.table[51] = reinterpret_cast<void*>(&OpenDevTools);
        controller.table[3] = reinterpret_cast<void*>(&GetIsVisible);
        controller.table[4] = reinterpret_cast<void*>(&PutIsVisible);
        controller.table[6] = reinterpret_cast<void*>(&PutBounds);
        controller.table[12] = reinterpret_cast<void*>(&MoveFocus);
        controller.table[23] = reinterpret_cast<void*>(&NotifyMoved);
        ControllerVisible = TRUE;
        controller.table[24] = reinterpret_cast<void*>(&Close);
        RegisterMainWindowClass(GetModuleHandleW(nullptr));
        window = CreateWindowExW(0, WindowClassName, WindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(window != nullptr);
        MainWindow = window;
        Calls.clear();
    }
    ~MainWindowFixture() {
        TearDownBrowser();
        if (IsWindow(window))
            DestroyWindow(window);
        MainWindow = nullptr;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void AttachBrowser() {
        BrowserEnvironment.Attach(environment.as<ICoreWebView2Environment>());
        BrowserController.Attach(controller.as<ICoreWebView2Controller>());
        BrowserView.Attach(view.as<ICoreWebView2>());
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
};

// Long enough that the text lives in its own heap block, beside the string object.
std::wstring* NewScript() {
    return new std::wstring(L"window.__ovra.emit('ota', {\"stage\":\"noop\"}, 1234567890)");
}

} // namespace

TEST_CASE_FIXTURE(MainWindowFixture, "a posted script is freed, and runs only once a view exists") {
    long before = LiveAllocations();
    REQUIRE(PostMessageW(window, WM_RUN_SCRIPT, 0, reinterpret_cast<LPARAM>(NewScript())));
    CHECK(LiveAllocations() == before + 2);
    Pump();
    CHECK(LiveAllocations() == before);
    CHECK(Calls.empty());

    REQUIRE(PostMessageW(window, WM_RUN_SCRIPT, 0, 0));
    Pump();

    AttachBrowser();
    std::wstring* script = NewScript();
    ForgetFreedBlocks();
    REQUIRE(PostMessageW(window, WM_RUN_SCRIPT, 0, reinterpret_cast<LPARAM>(script)));
    Pump();
    CHECK(WasFreed(script));
    REQUIRE(Calls.size() == 1);
    CHECK(Calls[0] ==
          "view.ExecuteScript window.__ovra.emit('ota', {\"stage\":\"noop\"}, 1234567890)");
}

TEST_CASE_FIXTURE(MainWindowFixture, "F5, F12 and resizing reach the browser only once it exists") {
    SendMessageW(window, WM_KEYDOWN, VK_F5, 0);
    SendMessageW(window, WM_KEYDOWN, VK_F12, 0);
    SetWindowPos(window, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    CHECK(Calls.empty());

    AttachBrowser();
    CHECK(SendMessageW(window, WM_KEYDOWN, VK_F5, 0) == 0);
    CHECK(SendMessageW(window, WM_KEYDOWN, VK_F12, 0) == 0);
    SendMessageW(window, WM_KEYDOWN, VK_F11, 0);
    SetWindowPos(window, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(window, &client);
    std::string bounds = "controller.put_Bounds " + std::to_string(client.right) + "x" +
                         std::to_string(client.bottom);
    CHECK(Calls == std::vector<std::string>{"view.Reload", "view.OpenDevToolsWindow", bounds});
    CHECK(SendMessageW(window, WM_ERASEBKGND, 0, 0) == 1);
}

TEST_CASE_FIXTURE(MainWindowFixture, "closing tears the browser down in order and quits with 0") {
    AttachBrowser();
    SendMessageW(window, WM_CLOSE, 0, 0);
    CHECK_FALSE(IsWindow(window));
    // First the environment is asked for its browser-exit event (slot 0: QueryInterface).
    CHECK(Calls == std::vector<std::string>{"environment.slot0", "view.Release", "controller.Close",
                                            "controller.Release", "environment.Release"});
    CHECK_FALSE(BrowserView);
    CHECK_FALSE(BrowserController);
    CHECK_FALSE(BrowserEnvironment);
    MSG msg;
    REQUIRE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    CHECK(msg.wParam == 0);
}

TEST_CASE_FIXTURE(MainWindowFixture, "focus, moves and minimising reach the control") {
    // Before the control exists none of these calls anything.
    SendMessageW(window, WM_SETFOCUS, 0, 0);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    SendMessageW(window, WM_MOVE, 0, MAKELPARAM(10, 10));
    SendMessageW(window, WM_SIZE, SIZE_MINIMIZED, 0);
    CHECK(Calls.empty());

    AttachBrowser();
    SendMessageW(window, WM_SETFOCUS, 0, 0);
    CHECK(SendMessageW(window, WM_ACTIVATE, WA_CLICKACTIVE, 0) == 0);
    // Deactivation, and activation while minimised, leave the focus alone.
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    SendMessageW(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 1), 0);
    SendMessageW(window, WM_MOVE, 0, MAKELPARAM(30, 40));
    CHECK(Calls == std::vector<std::string>{"controller.MoveFocus 0", "controller.MoveFocus 0",
                                            "controller.NotifyParentWindowPositionChanged"});

    Calls.clear();
    SendMessageW(window, WM_SIZE, SIZE_MINIMIZED, 0);
    SendMessageW(window, WM_SIZE, SIZE_MINIMIZED, 0);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
    SendMessageW(window, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(400, 300));
    RECT client;
    GetClientRect(window, &client);
    std::string bounds = "controller.put_Bounds " + std::to_string(client.right) + "x" +
                         std::to_string(client.bottom);
    // Hidden once, shown once, and no zero-sized bounds while minimised.
    CHECK(Calls == std::vector<std::string>{"controller.put_IsVisible 0",
                                            "controller.put_IsVisible 1", bounds, bounds});
}

TEST_CASE_FIXTURE(MainWindowFixture, "a change of monitor scale moves to the suggested rectangle") {
    RECT suggested{120, 80, 120 + 900, 80 + 640};
    CHECK(SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&suggested)) == 0);
    RECT now;
    GetWindowRect(window, &now);
    CHECK(now.left == 120);
    CHECK(now.top == 80);
    CHECK(now.right - now.left == 900);
    CHECK(now.bottom - now.top == 640);
}
