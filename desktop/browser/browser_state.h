// The three browser objects, each holding one reference or nothing. UI thread only;
// released on WM_DESTROY.
#pragma once

#include "base/com_ptr.h"
#include "webview2/webview2.h"

extern ComPtr<ICoreWebView2Environment> BrowserEnvironment;
extern ComPtr<ICoreWebView2Controller> BrowserController;
extern ComPtr<ICoreWebView2> BrowserView;

// What the main window shows where the page would be; null for the start-up screen.
extern const wchar_t* BrowserNotice;

// Makes the browser control cover the main window's client area, once it exists.
void FitBrowserToWindow();

// Gives the browser control the keyboard focus: the control only receives keys once the
// host has moved focus into it.
void FocusBrowser();

// The main window moved: the control places its pop-ups (drop-down lists) by it.
void NotifyBrowserMoved();

// Hidden while the window is minimised, so the control stops rendering; shown again
// when the window comes back, then fitted to its client area.
void ShowBrowser(bool visible);

// Releases the view, closes and releases the controller, then releases the
// environment: the controller goes only once nothing uses its view any more.
void TearDownBrowser();
