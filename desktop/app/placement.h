#pragma once

#include <windows.h>

struct WindowPlacement {
    int left;
    int top;
    int width;
    int height;
};

// 85% of the work area, at least 900 x 600 where the work area allows, centred.
// Physical pixels: the process is per-monitor DPI aware and nothing is scaled.
WindowPlacement ComputeWindowPlacement(const RECT& workArea);

// Placement on the monitor holding the point (0, 0), else the primary one.
WindowPlacement PlaceMainWindow();
