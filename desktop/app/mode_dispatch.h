#pragma once

// The first argument after the program path that is exactly one of the four headless
// switches, or null when there is none (the desktop host starts).
const wchar_t* FindModeSwitch(int argc, wchar_t** argv);

// Runs the process: a headless mode when the command line asks for one, else the
// desktop host. The result is the process exit code.
int RunProcess();
