#pragma once

// Runs one headless command ("--version", "--check-ota", "--apply-ota"); returns the
// process exit code.
int RunConsoleCommand(const wchar_t* mode);

// Console progress of a download: a line at every multiple of 20 percent.
void PrintDownloadProgress(int pct);
