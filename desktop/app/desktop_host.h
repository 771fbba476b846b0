#pragma once

// The interactive desktop host: single instance, main window, browser, message loop.
int RunDesktopHost();

// The steps the desktop host is made of, in the order it runs them.
// Sets the executable's paths, writes the embedded files and picks the page URL.
void PreparePage();
// Creates, centres and shows MainWindow with its start-up screen; false when it fails.
bool ShowMainWindow();
// Dispatches messages until the quit message; returns its exit code.
int RunMessageLoop();
