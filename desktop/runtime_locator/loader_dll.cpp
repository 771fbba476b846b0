#include "runtime_locator/locator.h"

// Referencing the entry points pulls them out of the static locator library.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    static volatile const void* keep[] = {
        reinterpret_cast<const void*>(&CreateCoreWebView2EnvironmentWithOptions),
        reinterpret_cast<const void*>(&GetAvailableCoreWebView2BrowserVersionString)};
    (void)keep;
    return TRUE;
}
