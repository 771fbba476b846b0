// Settings that steer the loader: each one can come from an environment variable or,
// when that is unset, from the browser control's group policies.
#pragma once

#include <string>

// The environment variable `envName` if set and not empty, else the policy value named
// after this executable's file name, else the one named "*" (machine policies before
// user policies). Numeric policies come back as decimal text. Empty when none is set.
std::wstring ReadLoaderSetting(const wchar_t* envName, const wchar_t* policyName);

// The running executable's file name, e.g. "OVRA-Zirer.exe".
std::wstring ExeFileName();
