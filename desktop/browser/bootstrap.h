#pragma once

#include "webview2/webview2.h"

#include <functional>
#include <string>

// The browser's per-user data folder, set by CreateBrowser.
extern std::wstring UserDataDir;

// Runs in every document before the page's own scripts: the page's way to post to us.
extern const wchar_t* const HostBridgeScript;

// The steps of bringing the browser up, in order.
enum class BrowserStep { Loader, Environment, Controller };

// What differs between the programs that start a browser. Every hook may be empty and
// runs on the UI thread.
struct BrowserStartup {
    // The browser data folder's name inside AppDataFolder().
    std::wstring dataFolder;
    // A step has succeeded.
    std::function<void(BrowserStep)> ready;
    // The environment or controller step failed with `hr`; the browser objects are
    // released and nothing else follows.
    std::function<void(BrowserStep, HRESULT hr)> failed;
    // The view exists and covers MainWindow; called just before it navigates to StartUrl.
    std::function<void(ICoreWebView2*)> prepareView;
    // The navigation to StartUrl has ended.
    std::function<HRESULT(ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*)> navigated;
};

// The one start-up sequence: resolves the loader beside the executable, prepares the
// data folder, then creates environment, controller and view inside MainWindow (each
// result checked: a controller without a view is a failed controller) and navigates to
// StartUrl. Returns the result of starting environment creation; after a failure here
// no hook runs again. The rest completes on the message loop.
HRESULT CreateBrowser(const BrowserStartup& startup);

// The browser process has gone: releases the browser objects and runs the start-up
// sequence again as it was last started, on the same data folder. A failure ends as at
// start.
void RestartBrowser();

// The desktop host's browser: message boxes for a missing runtime and for failed steps
// (which also end the message loop with exit code 1), the page settings, the bridge
// script and the page's messages. False when creation could not start.
bool StartBrowser();

HRESULT OnEnvironmentCreated(HRESULT errorCode, ICoreWebView2Environment* environment);
HRESULT OnControllerCreated(HRESULT errorCode, ICoreWebView2Controller* controller);
HRESULT OnNavigationCompleted(ICoreWebView2* sender,
                              ICoreWebView2NavigationCompletedEventArgs* args);

// Creates `name` inside AppDataFolder() and returns its path.
std::wstring PrepareBrowserDataFolder(const std::wstring& name);
