#include "app/placement.h"

#include <algorithm>

namespace {

int FitExtent(int available, int minimum) {
    int extent = static_cast<int>(available * 0.85);
    if (extent < minimum)
        extent = available > minimum ? minimum : available;
    return std::min(extent, available);
}

} // namespace

WindowPlacement ComputeWindowPlacement(const RECT& workArea) {
    int w = workArea.right - workArea.left;
    int h = workArea.bottom - workArea.top;
    WindowPlacement p;
    p.width = FitExtent(w, 900);
    p.height = FitExtent(h, 600);
    p.left = workArea.left + (w - p.width) / 2;
    p.top = workArea.top + (h - p.height) / 2;
    return p;
}

WindowPlacement PlaceMainWindow() {
    HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    return ComputeWindowPlacement(info.rcWork);
}
