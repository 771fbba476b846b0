#include "app/desktop_host.h"

#include "app/assets.h"
#include "base/globals.h"
#include "base/paths.h"
#include "base/stop_signal.h"
#include "app/placement.h"
#include "app/window.h"
#include "bridge/ota_tasks.h"
#include "browser/bootstrap.h"
#include "browser/browser_exit.h"
#include "ota/trial.h"
#include "ota/update.h"

#include <windows.h>
#include <objbase.h>

namespace {

// After the window has gone: how long the browser's processes may take to end, and how
// long background tasks get to give up what they were doing.
constexpr unsigned long BrowserExitWaitMs = 3000;
constexpr unsigned long TaskStopWaitMs = 5000;

// Another instance of this logon owns the mutex: bring its window forward.
void HandOverToRunningInstance() {
    HWND other = FindWindowW(WindowClassName, WindowTitle);
    if (!other)
        return;
    // Restoring a maximised window would shrink it: only a minimised one is restored.
    if (IsIconic(other))
        ShowWindow(other, SW_RESTORE);
    SetForegroundWindow(other);
}

} // namespace

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void PreparePage() {
    SetExePaths();
    ExtractAssets();
    StartUrl = FileUrlFromPath(ChoosePagePath(ExeDir));
}

bool ShowMainWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterMainWindowClass(instance);
    WindowPlacement place = PlaceMainWindow();
    MainWindow =
        CreateWindowExW(0, WindowClassName, WindowTitle, WS_OVERLAPPEDWINDOW, place.left, place.top,
                        place.width, place.height, nullptr, nullptr, instance, nullptr);
    if (!MainWindow)
        return false;
    ShowWindow(MainWindow, SW_SHOW);
    UpdateWindow(MainWindow);
    SetForegroundWindow(MainWindow);
    SetFocus(MainWindow);
    return true;
}

int RunDesktopHost() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, SingleInstanceMutexName);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        HandOverToRunningInstance();
        CloseHandle(mutex);
        return 0;
    }

    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    PreparePage();
    StartUpdateTrial();
    RemoveUpdateLeftovers();
    int exitCode = 1;
    if (ShowMainWindow()) {
        if (StartBrowser()) {
            // Without the start-up check the user can still check from the page.
            StartBackgroundTask(StartupOtaTask);
            exitCode = RunMessageLoop();
            // Tasks stop (a download breaks off and removes its file) while the browser
            // ends; the process-wide values they read are destroyed only after both.
            RequestStop();
            WaitForBrowserExit(BrowserExitWaitMs);
            if (!StopBackgroundTasks(TaskStopWaitMs)) {
                // A task still busy (the new program answering its version check, say)
                // would run on into destroyed values: end here, as the exit would anyway.
                if (mutex)
                    CloseHandle(mutex);
                TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
            }
        }
    }

    if (mutex)
        CloseHandle(mutex);
    CoUninitialize();
    return exitCode;
}
