// The runtime's client library: its reported version and its environment factory.
#pragma once

#include "browser/webview2.h"

#include <string>

// ProductVersion of the library's version resource (US English, Unicode block).
// 0x80070714 when the library has no version resource.
HRESULT ReadProductVersion(const std::wstring& libraryPath, std::wstring& version);

// Loads the library (it stays loaded: the environment lives in it) and starts
// creating the environment through its factory; the factory's result is returned.
HRESULT
CreateEnvironmentThroughClient(const std::wstring& libraryPath, PCWSTR userDataFolder,
                               ICoreWebView2EnvironmentOptions* options,
                               ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
