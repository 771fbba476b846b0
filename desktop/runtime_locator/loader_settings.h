// Settings that steer the loader: each one can come from an environment variable or,
// when that is unset, from the browser control's group policies.
#pragma once

#include <string>

struct LoaderSetting {
    const wchar_t* envName;
    const wchar_t* policyName;
    // Whether a policy value named "*" (every program) counts besides the one named
    // after this executable.
    bool policyForAllPrograms;
    // Whether a numeric policy value counts (as decimal text) besides a string.
    bool numericPolicy;
};

extern const LoaderSetting BrowserFolderSetting;
extern const LoaderSetting UserDataFolderSetting;
extern const LoaderSetting ReleaseChannelsSetting;
extern const LoaderSetting ChannelPreferenceSetting;

// The environment variable if set and not empty, else the policy value under the
// machine policies, then the user policies; within each, the value named after this
// executable's file name before the one named "*". Empty when none is set.
std::wstring ReadLoaderSetting(const LoaderSetting& setting);

// The running executable's file name, e.g. "OVRA-Zirer.exe".
std::wstring ExeFileName();
