#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the main window class; a failure surfaces as a failed window creation.
void RegisterMainWindowClass(HINSTANCE instance);

// Start-up screen colours (COLORREF): dark blue background, pale text.
constexpr COLORREF StartupBackground = 0x170E0A;
constexpr COLORREF StartupTextColor = 0xFCEEE8;
