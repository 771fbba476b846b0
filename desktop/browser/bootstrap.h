#pragma once

#include "browser/webview2.h"

#include <string>

// The browser's per-user data folder, set by StartBrowser.
extern std::wstring UserDataDir;

// Runs in every document before the page's own scripts: the page's way to post to us.
extern const wchar_t* const HostBridgeScript;

// Starts creating the browser inside MainWindow. False when creation could not start;
// the rest completes on the message loop.
bool StartBrowser();

HRESULT OnEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment);
HRESULT OnControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller);
HRESULT OnNavigationCompleted(ICoreWebView2* sender,
                              ICoreWebView2NavigationCompletedEventArgs* args);

// Creates "<local app data>\OVRA-Zirer" and `JoinPath`s `relative` under the local app
// data folder, creates that too and returns it. Falls back to the temporary folder when
// the local app data folder cannot be determined.
std::wstring PrepareBrowserDataFolder(const std::wstring& relative);
