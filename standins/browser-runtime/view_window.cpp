// The view's child window in the host's window, and what the host tells the controller
// about focus, visibility and moves. The real control lives in such a window: keys reach
// the page only while it has the keyboard focus, so a host that never moves the focus
// into it gets no typing in the page.
#include "launch.h"
#include "runtime.h"

#include <memory>

namespace {

const wchar_t ViewWindowClass[] = L"OvraStandinView";

bool VisibleBrowser() {
    return EnvVar(L"OVRA_STANDIN_VISIBLE") == L"1";
}

std::shared_ptr<Page> PageOf(HWND window) {
    auto* weak = reinterpret_cast<std::weak_ptr<Page>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return weak ? weak->lock() : nullptr;
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    auto page = PageOf(window);
    unsigned long argb = page ? page->browser->background : 0xFFFFFFFF;
    // A transparent colour lets the parent show through.
    if (argb >> 24) {
        HBRUSH brush = CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
        FillRect(dc, &ps.rcPaint, brush);
        DeleteObject(brush);
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        // A click into the page gives it the focus, as it does in the real control.
        SetFocus(window);
        [[fallthrough]];
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (auto page = PageOf(window))
            page->ForwardInput(message, wParam, lParam);
        if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP)
            break; // Alt+F4 and the system menu still work
        return 0;
    case WM_NCDESTROY:
        delete reinterpret_cast<std::weak_ptr<Page>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct KeyName {
    WPARAM vk;
    const char* key;
    const char* code;
};

const KeyName NamedKeys[] = {
    {VK_RETURN, "Enter", "Enter"},
    {VK_BACK, "Backspace", "Backspace"},
    {VK_TAB, "Tab", "Tab"},
    {VK_ESCAPE, "Escape", "Escape"},
    {VK_SPACE, " ", "Space"},
    {VK_LEFT, "ArrowLeft", "ArrowLeft"},
    {VK_RIGHT, "ArrowRight", "ArrowRight"},
    {VK_UP, "ArrowUp", "ArrowUp"},
    {VK_DOWN, "ArrowDown", "ArrowDown"},
    {VK_DELETE, "Delete", "Delete"},
    {VK_HOME, "Home", "Home"},
    {VK_END, "End", "End"},
    {VK_SHIFT, "Shift", "ShiftLeft"},
    {VK_CONTROL, "Control", "ControlLeft"},
    {VK_MENU, "Alt", "AltLeft"},
};

int Modifiers() {
    auto down = [](int vk) { return (GetKeyState(vk) & 0x8000) != 0; };
    return (down(VK_MENU) ? 1 : 0) | (down(VK_CONTROL) ? 2 : 0) | (down(VK_SHIFT) ? 8 : 0);
}

std::string KeyEvent(const char* type, WPARAM vk) {
    std::string key = "Unidentified", code;
    for (const KeyName& named : NamedKeys)
        if (named.vk == vk) {
            key = named.key;
            code = named.code;
        }
    bool shifted = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (vk >= 'A' && vk <= 'Z') {
        key = std::string(1, static_cast<char>(shifted ? vk : vk + 32));
        code = std::string("Key") + static_cast<char>(vk);
    } else if (vk >= '0' && vk <= '9') {
        key = std::string(1, static_cast<char>(vk));
        code = std::string("Digit") + static_cast<char>(vk);
    }
    std::string vkText = std::to_string(vk);
    return std::string("{\"type\":\"") + type + "\",\"windowsVirtualKeyCode\":" + vkText +
           ",\"nativeVirtualKeyCode\":" + vkText + ",\"key\":" + JsonQuote(key) +
           ",\"code\":" + JsonQuote(code) + ",\"modifiers\":" + std::to_string(Modifiers()) + "}";
}

} // namespace

void Page::CreateWindowInParent() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ViewWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = ViewWindowClass;
    RegisterClassExW(&wc); // a second registration fails harmlessly
    if (!parent || !IsWindow(parent))
        return;
    window = CreateWindowExW(0, ViewWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                             0, 0, parent, nullptr, wc.hInstance, nullptr);
    if (window)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(new std::weak_ptr<Page>(shared_from_this())));
    char colour[16];
    wsprintfA(colour, "%08lX", browser->background);
    RecordHostCall(std::string("background ") + colour);
    // The page's own default background: what it shows before it paints anything.
    unsigned long argb = browser->background;
    Send("Emulation.setDefaultBackgroundColorOverride",
         "{\"color\":{\"r\":" + std::to_string((argb >> 16) & 0xFF) + ",\"g\":" +
             std::to_string((argb >> 8) & 0xFF) + ",\"b\":" + std::to_string(argb & 0xFF) +
             ",\"a\":" + std::to_string(((argb >> 24) & 0xFF) / 255.0) + "}}");
}

void Page::MoveFocus(int reason) {
    RecordHostCall("focus " + std::to_string(reason));
    if (closed)
        return;
    if (window)
        SetFocus(window);
    // A visible browser has a window of its own, which then takes the keyboard.
    if (VisibleBrowser())
        Send("Page.bringToFront", "{}");
}

void Page::SetVisible(bool shown) {
    RecordHostCall(std::string("visible ") + (shown ? "1" : "0"));
    if (visible == shown || closed)
        return;
    visible = shown;
    if (window)
        ShowWindow(window, shown ? SW_SHOWNA : SW_HIDE);
    // A visible browser's window is minimised with the view, so it stops rendering and
    // its page is hidden, as a hidden control's page is. (Headless Chromium keeps the
    // page visible whatever its window's state.)
    std::shared_ptr<Page> self = shared_from_this();
    browser->cdp->Send(
        "Browser.getWindowForTarget", "{\"targetId\":" + JsonQuote(targetId) + "}", "",
        [self, shown](const JsonValue* result, const std::string&) {
            if (!result || self->closed)
                return;
            std::string id = std::to_string(static_cast<long long>(result->Num("windowId")));
            self->browser->cdp->Send("Browser.setWindowBounds",
                                     "{\"windowId\":" + id + ",\"bounds\":{\"windowState\":\"" +
                                         (shown ? "normal" : "minimized") + "\"}}",
                                     "");
            if (shown)
                self->PlaceBrowserWindow();
        });
}

void Page::ParentMoved() {
    POINT origin{bounds.left, bounds.top};
    if (parent)
        ClientToScreen(parent, &origin);
    RecordHostCall("moved " + std::to_string(origin.x) + " " + std::to_string(origin.y));
    PlaceBrowserWindow();
}

void Page::ForwardInput(UINT message, WPARAM wParam, LPARAM lParam) {
    if (closed)
        return;
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        // The page has the focus exactly while the view window has it.
        Send("Emulation.setFocusEmulationEnabled",
             message == WM_SETFOCUS ? "{\"enabled\":true}" : "{\"enabled\":false}");
        return;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
        std::string x = std::to_string(static_cast<short>(LOWORD(lParam)));
        std::string y = std::to_string(static_cast<short>(HIWORD(lParam)));
        Send("Input.dispatchMouseEvent",
             std::string("{\"type\":\"") +
                 (message == WM_LBUTTONDOWN ? "mousePressed" : "mouseReleased") + "\",\"x\":" + x +
                 ",\"y\":" + y + ",\"button\":\"left\",\"clickCount\":1}");
        return;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        // The browser's own keys, which the control handles before the page sees them.
        bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
        if (wParam == VK_F5 || (ctrl && wParam == 'R'))
            return Send("Page.reload", "{}");
        if (wParam == VK_F12)
            return OpenDevTools();
        Send("Input.dispatchKeyEvent", KeyEvent("rawKeyDown", wParam));
        return;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Send("Input.dispatchKeyEvent", KeyEvent("keyUp", wParam));
        return;
    case WM_CHAR: {
        wchar_t c = static_cast<wchar_t>(wParam);
        if (c < 0x20 && c != L'\r')
            return;
        std::string text = ToUtf8(std::wstring(1, c));
        Send("Input.dispatchKeyEvent", "{\"type\":\"char\",\"text\":" + JsonQuote(text) +
                                           ",\"modifiers\":" + std::to_string(Modifiers()) + "}");
        return;
    }
    default:
        return;
    }
}
