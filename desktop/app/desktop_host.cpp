#include "app/desktop_host.h"

#include "app/assets.h"
#include "base/globals.h"
#include "base/paths.h"
#include "app/placement.h"
#include "app/window.h"
#include "bridge/ota_tasks.h"
#include "browser/bootstrap.h"
#include "ota/trial.h"

#include <windows.h>
#include <objbase.h>

namespace {

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
    int exitCode = 1;
    if (ShowMainWindow()) {
        if (StartBrowser()) {
            // Without the start-up check the user can still check from the page.
            StartBackgroundTask(StartupOtaTask);
            exitCode = RunMessageLoop();
        }
    }

    if (mutex)
        CloseHandle(mutex);
    CoUninitialize();
    return exitCode;
}
