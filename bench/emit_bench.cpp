// Bench-only program, never shipped: the host's window and browser brought up as the
// application does, then 1000 events raised from a background thread, each stamped with
// the wall-clock time at which it was raised. It starts raising once a file named "go"
// appears next to it, so the bench can attach its listener first.
#include "app/desktop_host.h"
#include "base/globals.h"
#include "base/paths.h"
#include "bridge/emit.h"
#include "browser/bootstrap.h"

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>

namespace {

double WallClockMs() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<double>(t.QuadPart - 116444736000000000ULL) / 10000.0;
}

void RaiseEvents() {
    std::wstring go = JoinPath(ExeDir, L"go");
    while (GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    for (int i = 0; i < 1000; ++i) {
        wchar_t payload[96];
        swprintf(payload, 96, L"{\"i\":%d,\"t\":%.3f}", i, WallClockMs());
        EmitToPage("bench", payload);
        Sleep(2);
    }
}

} // namespace

int wmain() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PreparePage();
    if (!ShowMainWindow() || !StartBrowser())
        return 1;
    std::thread(RaiseEvents).detach();
    return RunMessageLoop();
}
