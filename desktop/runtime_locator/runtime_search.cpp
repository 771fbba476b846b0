#include "runtime_locator/runtime_search.h"

#include "base/files.h"
#include "runtime_locator/loader_settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Release channels from the most to the least stable; a channel's number is its index.
struct Channel {
    const wchar_t* guid;
    const wchar_t* name;
};
const Channel Channels[] = {
    {L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", L""},
    {L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}", L"beta"},
    {L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", L"dev"},
    {L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}", L"canary"},
    {L"{BE59E8FD-089A-411B-A3B0-051D9E417818}", L"internal"},
};
constexpr int ChannelCount = sizeof(Channels) / sizeof(Channels[0]);

const unsigned long OldestSupported[] = {86, 0, 616, 0};

std::wstring WithoutTrailingSeparators(std::wstring folder) {
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

// The "EBWebView" value of a channel's registration, read as a 32-bit program does:
// installers register there.
std::wstring RegisteredFolder(HKEY hive, const Channel& channel) {
    std::wstring key =
        std::wstring(L"Software\\Microsoft\\EdgeUpdate\\ClientState\\") + channel.guid;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &opened) !=
        ERROR_SUCCESS)
        return std::wstring();
    wchar_t value[MAX_PATH * 4] = L"";
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(opened, nullptr, L"EBWebView", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        value[0] = L'\0';
    RegCloseKey(opened);
    return value;
}

// A registration names the versioned folder itself; its name is the version.
bool UsableInstall(const std::wstring& folder, const Channel& channel, Runtime& found) {
    if (folder.empty())
        return false;
    size_t cut = folder.find_last_of(L'\\');
    std::wstring name = cut == std::wstring::npos ? folder : folder.substr(cut + 1);
    if (!IsSupportedVersion(name) || !FileExists(ClientLibraryPath(folder)))
        return false;
    found.folder = folder;
    found.kind = RuntimeKind::Installed;
    found.version = *channel.name ? name + L" " + channel.name : name;
    return true;
}

} // namespace

std::wstring ClientLibraryPath(const std::wstring& runtimeFolder) {
    std::wstring path = runtimeFolder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return path + L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";
}

bool IsSupportedVersion(const std::wstring& version) {
    size_t start = 0;
    for (unsigned long oldest : OldestSupported) {
        unsigned long part = 0;
        if (start <= version.size()) {
            part = std::wcstoul(version.c_str() + start, nullptr, 10);
            size_t dot = version.find(L'.', start);
            start = dot == std::wstring::npos ? version.size() + 1 : dot + 1;
        }
        if (part != oldest)
            return part > oldest;
    }
    return true;
}

std::vector<int> ChannelOrder(const std::wstring& list, bool leastStableFirst) {
    bool allowed[ChannelCount] = {};
    bool any = false;
    for (size_t start = 0; start < list.size();) {
        size_t end = std::min(list.find(L',', start), list.size());
        if (end > start) {
            // What is no channel number at all stands for the stable channel.
            int channel = _wtoi(list.substr(start, end - start).c_str());
            allowed[channel >= 0 && channel < ChannelCount ? channel : 0] = any = true;
        }
        start = end + 1;
    }
    std::vector<int> order;
    for (int channel = 0; channel < ChannelCount; ++channel) {
        if (allowed[channel] || !any)
            order.push_back(channel);
    }
    if (leastStableFirst)
        std::reverse(order.begin(), order.end());
    return order;
}

bool FindRuntime(const wchar_t* explicitFolder, Runtime& found) {
    std::wstring configured = ReadLoaderSetting(BrowserFolderSetting);
    if (configured.empty() && explicitFolder)
        configured = explicitFolder;
    if (!configured.empty()) {
        configured = WithoutTrailingSeparators(configured);
        if (!FileExists(ClientLibraryPath(configured)))
            return false;
        found.folder = configured;
        found.kind = RuntimeKind::Configured;
        found.version.clear();
        return true;
    }

    bool leastStableFirst = _wtoi(ReadLoaderSetting(ChannelPreferenceSetting).c_str()) == 1;
    for (int channel : ChannelOrder(ReadLoaderSetting(ReleaseChannelsSetting), leastStableFirst)) {
        // A machine-wide install before one for this user alone.
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            if (UsableInstall(RegisteredFolder(hive, Channels[channel]), Channels[channel], found))
                return true;
        }
    }
    return false;
}
