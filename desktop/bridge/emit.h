// Raising named events in the page. Callable from any thread: the script travels to the
// UI thread as WM_RUN_SCRIPT and runs there.
#pragma once

#include <string>

// The one line of script that hands `payload` (JSON text; empty means null) to the
// page's event hub, and does nothing in a document without one.
std::wstring BuildEmitScript(const char* eventName, const std::wstring& payload);

// Posts the event's script to MainWindow; dropped when there is no window or the post
// fails.
void EmitToPage(const char* eventName, const std::wstring& payload);
