// Process-wide values of the shell. Written on the UI thread before any background
// thread starts, only read afterwards.
#pragma once

#include <windows.h>
#include <string>

extern const wchar_t* const WindowTitle;
extern const wchar_t* const WindowClassName;
extern const wchar_t* const SingleInstanceMutexName;
// The built-in version: every update comparison, the page and --version use it.
extern const wchar_t* const AppVersion;

extern HWND MainWindow;
extern std::wstring ExePath;
extern std::wstring ExeDir;
extern std::wstring StartUrl;

// The one custom window message; lParam owns a heap-allocated std::wstring script.
constexpr UINT WM_RUN_SCRIPT = WM_APP + 1;
