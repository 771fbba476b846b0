// What the host does when a process of the browser control fails while the cockpit
// runs. UI thread only.
#pragma once

#include "webview2/webview2.h"

// Registers the view's process-failed handler and the environment's runtime-update
// handler.
void WatchBrowserProcesses(ICoreWebView2* view);

// The page's renderer ended or hangs: reload, unless it already failed more than three
// times within a minute; then the window shows a notice instead of the page.
// The browser process ended: every view of its environment is dead, so the browser is
// released and created again on the same data folder, unless that already happened more
// than three times within five minutes; then the window shows a notice. Other helper
// processes come back by themselves.
HRESULT OnProcessFailed(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args);

// Records a renderer failure at `nowMs` (a tick count); true while reloading is still
// worth it: no more than three failures within the last minute.
bool RendererMayReload(unsigned long long nowMs);

// Records a browser process failure at `nowMs`; true while creating the browser again is
// still worth it: no more than three failures within the last five minutes.
bool BrowserMayRestart(unsigned long long nowMs);

// The page cannot be kept up: once the control's event under way has returned, the
// browser is released and the window shows the page's notice in its place.
void GiveUpOnPage();
