// The DPI a window is shown at, and the system's sizes and fonts for it (the screen's before Windows 10 1607).
#pragma once

#include <windows.h>

UINT WindowDpi(HWND window);
// GetSystemMetrics for a window at `dpi`.
int SystemMetricForDpi(int index, UINT dpi);
// The system's status bar font at `dpi`; null when it cannot be made. The caller deletes it.
HFONT CreateStatusFont(UINT dpi);
