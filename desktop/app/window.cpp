#include "app/window.h"

#include "base/globals.h"
#include "browser/browser_exit.h"
#include "browser/browser_state.h"

#include <string>

namespace {

void PaintStartupScreen(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH brush = CreateSolidBrush(StartupBackground);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, StartupTextColor);
    // The texts are Chinese: a UI font with Chinese glyphs, on every Windows since 8.
    HFONT font = CreateFontW(28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                             L"Microsoft YaHei UI");
    HGDIOBJ previous = SelectObject(dc, font);
    DrawTextW(dc, BrowserNotice ? BrowserNotice : L"OVRA-Zirer  正在启动…", -1, &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, previous);
    DeleteObject(font);
    EndPaint(window, &ps);
}

void RunPostedScript(LPARAM lParam) {
    // The message owns the string: free it whether or not it can run.
    std::wstring* script = reinterpret_cast<std::wstring*>(lParam);
    if (!script)
        return;
    if (BrowserView)
        BrowserView->ExecuteScript(script->c_str(), nullptr);
    delete script;
}

// Windows suggests where the window goes at the new monitor scale.
void MoveToSuggestedRect(HWND window, const RECT* suggested) {
    if (!suggested)
        return;
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (BrowserView)
            break;
        PaintStartupScreen(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        ShowBrowser(wParam != SIZE_MINIMIZED);
        return 0;
    case WM_MOVE:
        NotifyBrowserMoved();
        return 0;
    case WM_SETFOCUS:
        FocusBrowser();
        return 0;
    case WM_ACTIVATE:
        // Default processing would put the focus on this window, away from the page.
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam) && BrowserController) {
            FocusBrowser();
            return 0;
        }
        break;
    case WM_DPICHANGED:
        MoveToSuggestedRect(window, reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        CloseBrowserForExit();
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_F5 && BrowserView) {
            BrowserView->Reload();
            return 0;
        }
        if (wParam == VK_F12 && BrowserView) {
            BrowserView->OpenDevToolsWindow();
            return 0;
        }
        break;
    case WM_RUN_SCRIPT:
        RunPostedScript(lParam);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(StartupBackground);
    wc.lpszClassName = WindowClassName;
    RegisterClassExW(&wc);
}
