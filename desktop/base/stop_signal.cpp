#include "base/stop_signal.h"

HANDLE StopSignal() {
    // Made on first use and never closed: threads may wait on it until the process ends.
    static HANDLE signal = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return signal;
}

void RequestStop() {
    if (HANDLE signal = StopSignal())
        SetEvent(signal);
}

bool StopRequested() {
    HANDLE signal = StopSignal();
    return signal && WaitForSingleObject(signal, 0) == WAIT_OBJECT_0;
}
