// Starting Debian's Chromium from inside Wine and reaching its DevTools endpoint.
#pragma once

#include "websocket.h"

#include <windows.h>

#include <string>
#include <vector>

struct LaunchResult {
    HRESULT hr = E_FAIL;
    int port = 0;                     // DevTools port on 127.0.0.1
    std::string browserPath;          // WebSocket path of the browser endpoint
    SOCKET lifeline = INVALID_SOCKET; // closing it makes the guard end Chromium
};

// Host path ("C:\...", "Z:\...") as the Linux path Chromium sees; empty if unknown.
std::string UnixPath(const std::wstring& windowsPath);

// Reads an environment variable of this process ("" when unset).
std::wstring EnvVar(const wchar_t* name);

// Splits a command-line-like string on spaces, honouring double quotes.
std::vector<std::wstring> SplitArguments(const std::wstring& text);

// Starts Chromium with its profile in "<userDataFolder>\EBWebView" under a guard that
// ends it when this process goes away, waits for its DevTools port, and returns it.
// Blocks for up to about 30 s; call it off the UI thread.
LaunchResult LaunchChromium(const std::wstring& userDataFolder, const std::wstring& extraArgs);
