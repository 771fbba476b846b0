#include "app/mode_dispatch.h"

#include "app/assets.h"
#include "app/desktop_host.h"
#include "base/paths.h"
#include "headless/console.h"
#include "headless/smoke.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

const wchar_t* FindModeSwitch(int argc, wchar_t** argv) {
    static const wchar_t* const switches[] = {L"--smoke", L"--version", L"--check-ota",
                                              L"--apply-ota"};
    for (int i = 1; i < argc; ++i) {
        for (const wchar_t* s : switches) {
            if (std::wcscmp(argv[i], s) == 0)
                return s;
        }
    }
    return nullptr;
}

int RunProcess() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv) {
        const wchar_t* mode = FindModeSwitch(argc, argv);
        LocalFree(argv);
        if (mode) {
            if (std::wcscmp(mode, L"--smoke") == 0) {
                SetExePaths();
                ExtractAssets();
                return RunSmokeTest();
            }
            return RunConsoleCommand(mode);
        }
    }
    return RunDesktopHost();
}
