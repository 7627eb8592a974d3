#pragma once

#include "platform/Seam.h"

#include <windows.h>

namespace bw {

// The DPI Windows gives a window: the DPI of the monitor it is on, for a program aware of each monitor's DPI
// (GetDpiForWindow, from Windows 10 1607 on; before, the screen's).
UINT DpiOfWindow(HWND window);

// The DPI of a monitor (GetDpiForMonitor's effective DPI, from Windows 8.1 on; before, the screen's).
UINT DpiOfMonitor(HMONITOR monitor);

// A system metric at `dpi` (GetSystemMetricsForDpi, from Windows 10 1607 on; before, at the system's DPI).
int MetricAtDpi(int index, UINT dpi);

namespace seam {
// What the two functions ask Windows. Tests answer as Windows does for a monitor of another scale.
extern TSeam<UINT(HWND window)> WindowDpi;
extern TSeam<UINT(HMONITOR monitor)> MonitorDpi;
} // namespace seam

} // namespace bw
