// Where the browser control's two loader entry points come from: the loader library
// next to the executable when it is usable, else the locator linked into this program.
#pragma once

#include "webview2/webview2.h"

#include <string>

extern HMODULE LoaderModule;
extern CreateEnvironmentFn CreateEnvironmentEntry;
extern BrowserVersionFn BrowserVersionEntry;

// Looks for "WebView2Loader.dll" in `folder`, then on the normal library search path.
// A library without the environment export is left loaded but unused. Always true:
// the linked-in locator is the last resort, so the creation entry is never null.
bool ResolveLoader(const std::wstring& folder);
