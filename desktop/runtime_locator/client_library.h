// The runtime's client library: its reported version and its environment factory.
#pragma once

#include "webview2/webview2.h"
#include "runtime_locator/runtime_search.h"

#include <string>

// ProductVersion of the library's version resource (US English, Unicode block).
// 0x80070714 when the library has no version resource.
HRESULT ReadProductVersion(const std::wstring& libraryPath, std::wstring& version);

// Loads the runtime's client library (it stays loaded: the environment lives in it)
// and starts creating the environment through its factory; the factory's result is
// returned. A failed attempt is made once more, whether it fails at once or later
// through the completion handler: a runtime's first start after an update or on a
// cold machine can fail where the second succeeds.
HRESULT
CreateEnvironmentThroughClient(const Runtime& runtime, PCWSTR userDataFolder,
                               ICoreWebView2EnvironmentOptions* options,
                               ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
