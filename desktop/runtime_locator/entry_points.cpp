#include "runtime_locator/locator.h"

#include "base/task_memory.h"
#include "runtime_locator/client_library.h"
#include "runtime_locator/loader_settings.h"
#include "runtime_locator/runtime_search.h"

#include <string>

namespace {

const HRESULT NoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

} // namespace

extern "C" HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (!handler)
        return E_POINTER;
    Runtime runtime;
    if (!FindRuntime(browserExecutableFolder, runtime))
        return NoRuntime;
    std::wstring dataFolder = ReadLoaderSetting(UserDataFolderSetting);
    return CreateEnvironmentThroughClient(
        runtime, dataFolder.empty() ? userDataFolder : dataFolder.c_str(), options, handler);
}

extern "C" HRESULT STDAPICALLTYPE
GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder, LPWSTR* versionInfo) {
    if (!versionInfo)
        return E_POINTER;
    *versionInfo = nullptr;
    Runtime runtime;
    if (!FindRuntime(browserExecutableFolder, runtime))
        return NoRuntime;
    std::wstring version = runtime.version;
    if (runtime.kind == RuntimeKind::Configured) {
        HRESULT hr = ReadProductVersion(ClientLibraryPath(runtime.folder), version);
        if (FAILED(hr))
            return hr;
    }
    return CopyToTaskMemory(version, versionInfo);
}
