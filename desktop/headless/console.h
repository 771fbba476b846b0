#pragma once

// Runs one headless command ("--version", "--check-ota", "--apply-ota"); returns the
// process exit code.
int RunConsoleCommand(const wchar_t* mode);
