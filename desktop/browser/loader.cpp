#include "browser/loader.h"

#include "base/paths.h"
#include "runtime_locator/locator.h"

HMODULE LoaderModule = nullptr;
CreateEnvironmentFn CreateEnvironmentEntry = nullptr;
BrowserVersionFn BrowserVersionEntry = nullptr;

namespace {

template <typename Fn> Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

bool ResolveLoader(const std::wstring& folder) {
    const std::wstring candidates[] = {JoinPath(folder, L"WebView2Loader.dll"),
                                       L"WebView2Loader.dll"};
    LoaderModule = nullptr;
    for (const std::wstring& candidate : candidates) {
        LoaderModule = LoadLibraryW(candidate.c_str());
        if (LoaderModule)
            break;
    }
    CreateEnvironmentEntry = nullptr;
    BrowserVersionEntry = nullptr;
    if (LoaderModule) {
        CreateEnvironmentEntry =
            Export<CreateEnvironmentFn>(LoaderModule, "CreateCoreWebView2EnvironmentWithOptions");
        BrowserVersionEntry =
            Export<BrowserVersionFn>(LoaderModule, "GetAvailableCoreWebView2BrowserVersionString");
    }
    if (!CreateEnvironmentEntry) {
        CreateEnvironmentEntry = &CreateCoreWebView2EnvironmentWithOptions;
        BrowserVersionEntry = &GetAvailableCoreWebView2BrowserVersionString;
    }
    return true;
}
