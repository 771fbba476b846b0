#pragma once

// The interactive desktop host: single instance, main window, browser, message loop.
int RunDesktopHost();
