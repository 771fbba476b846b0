#include "runtime_locator/runtime_search.h"

#include "base/files.h"
#include "runtime_locator/loader_settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// Release channels from the most to the least stable; a channel's number is its index.
const wchar_t* const ChannelGuids[] = {
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}",
    L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}",
    L"{BE59E8FD-089A-411B-A3B0-051D9E417818}"};
constexpr int ChannelCount = sizeof(ChannelGuids) / sizeof(ChannelGuids[0]);

std::wstring WithoutTrailingSeparators(std::wstring folder) {
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

// "0,2" -> {0, 2}; unset means every channel. Unknown numbers are ignored.
std::vector<int> AllowedChannels() {
    std::wstring list = ReadLoaderSetting(L"WEBVIEW2_RELEASE_CHANNELS", L"ReleaseChannels");
    std::vector<int> channels;
    if (list.empty()) {
        for (int i = 0; i < ChannelCount; ++i)
            channels.push_back(i);
        return channels;
    }
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(L',', start), list.size());
        std::wstring item = list.substr(start, end - start);
        int channel = _wtoi(item.c_str());
        if (item.find_first_of(L"0123456789") != std::wstring::npos && channel >= 0 &&
            channel < ChannelCount &&
            std::find(channels.begin(), channels.end(), channel) == channels.end())
            channels.push_back(channel);
        start = end + 1;
    }
    std::sort(channels.begin(), channels.end());
    return channels;
}

// The "EBWebView" value of a channel's registration names the runtime folder, or the
// EBWebView folder inside it; both are accepted.
std::wstring RegisteredRuntime(const wchar_t* guid) {
    struct Location {
        HKEY hive;
        const wchar_t* root;
    };
    const Location locations[] = {
        {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\EdgeUpdate\\ClientState\\"},
        {HKEY_LOCAL_MACHINE, L"Software\\WOW6432Node\\Microsoft\\EdgeUpdate\\ClientState\\"},
        {HKEY_CURRENT_USER, L"Software\\Microsoft\\EdgeUpdate\\ClientState\\"},
        {HKEY_CURRENT_USER, L"Software\\WOW6432Node\\Microsoft\\EdgeUpdate\\ClientState\\"},
    };
    for (const Location& at : locations) {
        std::wstring key = std::wstring(at.root) + guid;
        wchar_t value[MAX_PATH * 4];
        DWORD size = sizeof(value);
        if (RegGetValueW(at.hive, key.c_str(), L"EBWebView", RRF_RT_REG_SZ, nullptr, value,
                         &size) != ERROR_SUCCESS)
            continue;
        std::wstring folder = WithoutTrailingSeparators(value);
        if (FileExists(ClientLibraryPath(folder)))
            return folder;
        size_t cut = folder.find_last_of(L"\\/");
        if (cut != std::wstring::npos && FileExists(ClientLibraryPath(folder.substr(0, cut))))
            return folder.substr(0, cut);
    }
    return std::wstring();
}

} // namespace

std::wstring ClientLibraryPath(const std::wstring& runtimeFolder) {
    std::wstring path = runtimeFolder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return path + L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";
}

std::wstring FindRuntimeFolder(const wchar_t* explicitFolder) {
    std::wstring configured =
        ReadLoaderSetting(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L"BrowserExecutableFolder");
    if (configured.empty() && explicitFolder)
        configured = explicitFolder;
    if (!configured.empty()) {
        configured = WithoutTrailingSeparators(configured);
        return FileExists(ClientLibraryPath(configured)) ? configured : std::wstring();
    }

    std::vector<int> channels = AllowedChannels();
    // Preference 1 asks for the least stable channel first.
    if (ReadLoaderSetting(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"ReleaseChannelPreference") ==
        L"1")
        std::reverse(channels.begin(), channels.end());
    for (int channel : channels) {
        std::wstring folder = RegisteredRuntime(ChannelGuids[channel]);
        if (!folder.empty())
            return folder;
    }
    return std::wstring();
}
