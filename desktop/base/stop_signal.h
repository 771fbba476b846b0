// The program is ending: background work gives up what it waits for and returns, so
// nothing of it runs once the process-wide values are destroyed.
#pragma once

#include <windows.h>

// A manual-reset event, set once the program ends; null only when no event could be
// made (then nothing waits on it).
HANDLE StopSignal();
void RequestStop();
bool StopRequested();
