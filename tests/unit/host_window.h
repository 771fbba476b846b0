// A main window for code that leaves its work on the window's timers, and the pump that
// runs that work. Whatever the work left in the browser's values goes with the window.
#pragma once

#include "base/globals.h"
#include "browser/browser_state.h"

#include <windows.h>

struct ScratchMainWindow {
    ScratchMainWindow() {
        MainWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    }
    ~ScratchMainWindow() {
        DestroyWindow(MainWindow);
        MainWindow = nullptr;
        BrowserNotice = nullptr;
        BrowserView.Reset();
    }
};

// Runs the work a handler left for after the control's event.
inline void RunPendingTimers() {
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
}
