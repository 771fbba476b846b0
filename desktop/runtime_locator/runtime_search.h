// Finding an installed browser runtime: a folder F that holds the runtime's client
// library F\EBWebView\x64\EmbeddedBrowserWebView.dll.
#pragma once

#include <string>

// Path of the client library inside a runtime folder (whether or not it exists).
std::wstring ClientLibraryPath(const std::wstring& runtimeFolder);

// The runtime folder to use, or empty when there is none. A folder that is configured
// (environment, policy, or `explicitFolder`, in that order) is final: when it holds no
// runtime the result is empty, we do not quietly run a different one. Otherwise the
// registered installs are searched channel by channel in the preferred order.
std::wstring FindRuntimeFolder(const wchar_t* explicitFolder);
