#include "runtime_locator/loader_settings.h"

#include "base/paths.h"

#include <windows.h>

#include <vector>

namespace {

const wchar_t PolicyRoot[] = L"Software\\Policies\\Microsoft\\Edge\\WebView2\\";

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return std::wstring();
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

// A string value (environment references expanded) or, where allowed, a DWORD as
// decimal text.
bool PolicyValue(HKEY hive, const std::wstring& key, const std::wstring& name, bool numeric,
                 std::wstring& value) {
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (numeric && RegGetValueW(hive, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &number,
                                &size) == ERROR_SUCCESS) {
        value = std::to_wstring(number);
        return true;
    }
    size = 0;
    if (RegGetValueW(hive, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return false;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(hive, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS)
        return false;
    value = text.data();
    return !value.empty();
}

} // namespace

const LoaderSetting BrowserFolderSetting = {L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",
                                            L"BrowserExecutableFolder", true, false};
// A user data folder for every program at once would make them share one profile.
const LoaderSetting UserDataFolderSetting = {L"WEBVIEW2_USER_DATA_FOLDER", L"UserDataFolder", false,
                                             false};
const LoaderSetting ReleaseChannelsSetting = {L"WEBVIEW2_RELEASE_CHANNELS", L"ReleaseChannels",
                                              true, false};
const LoaderSetting ChannelPreferenceSetting = {L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
                                                L"ReleaseChannelPreference", true, true};

std::wstring ExeFileName() {
    std::wstring full = ModulePath();
    size_t cut = full.find_last_of(L"\\/");
    return cut == std::wstring::npos ? full : full.substr(cut + 1);
}

std::wstring ReadLoaderSetting(const LoaderSetting& setting) {
    std::wstring value = EnvironmentValue(setting.envName);
    if (!value.empty())
        return value;
    std::wstring key = std::wstring(PolicyRoot) + setting.policyName;
    const std::wstring names[] = {ExeFileName(), L"*"};
    const size_t nameCount = setting.policyForAllPrograms ? 2 : 1;
    // An administrator's machine policy outranks anything set for the user alone.
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (size_t i = 0; i < nameCount; ++i) {
            if (PolicyValue(hive, key, names[i], setting.numericPolicy, value))
                return value;
        }
    }
    return std::wstring();
}
