#include "runtime_locator/client_library.h"

#include "runtime_locator/creation_attempts.h"

#include <windows.h>

#include <vector>

namespace {

HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

} // namespace

HRESULT ReadProductVersion(const std::wstring& libraryPath, std::wstring& version) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(libraryPath.c_str(), &ignored);
    if (size == 0)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(libraryPath.c_str(), 0, size, block.data()))
        return LastErrorResult();
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                        reinterpret_cast<void**>(&text), &length) ||
        !text)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    version = text;
    return S_OK;
}

HRESULT CreateEnvironmentThroughClient(
    const Runtime& runtime, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    // The runtime's own DLLs sit beside its client library.
    HMODULE client = LoadLibraryExW(ClientLibraryPath(runtime.folder).c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!client)
        return LastErrorResult();
    auto factory = reinterpret_cast<ClientFactoryFn>(reinterpret_cast<void*>(
        GetProcAddress(client, "CreateWebViewEnvironmentWithOptionsInternal")));
    if (!factory)
        return LastErrorResult();
    ComPtr<CreationAttempts> attempts(new CreationAttempts(factory, static_cast<int>(runtime.kind),
                                                           userDataFolder, options, handler));
    HRESULT hr = attempts->Attempt();
    if (FAILED(hr))
        hr = attempts->Attempt();
    return hr;
}
