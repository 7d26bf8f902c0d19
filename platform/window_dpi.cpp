// The DPI a window is shown at, and the system's sizes and fonts for it (the screen's before Windows 10 1607).
#include "platform/window_dpi.h"

#include "platform/system_library.h"

namespace {

typedef UINT(WINAPI *GetDpiForWindowFunction)(HWND);
typedef int(WINAPI *GetSystemMetricsForDpiFunction)(int, UINT);
typedef BOOL(WINAPI *SystemParametersInfoForDpiFunction)(UINT, UINT, PVOID, UINT, UINT);

// The ...ForDpi functions and GetDpiForWindow are in user32 from Windows 10 1607 on only, so looked up when called.
const wchar_t kUser32[] = L"user32.dll";

UINT DeviceDpi(HWND window) {
    const HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

UINT WindowDpi(HWND window) {
    const GetDpiForWindowFunction forWindow = SystemFunction<GetDpiForWindowFunction>(kUser32, "GetDpiForWindow");
    const UINT dpi = forWindow ? forWindow(window) : 0;
    return dpi != 0 ? dpi : DeviceDpi(window);
}

int SystemMetricForDpi(int index, UINT dpi) {
    const GetSystemMetricsForDpiFunction forDpi =
        SystemFunction<GetSystemMetricsForDpiFunction>(kUser32, "GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

HFONT CreateStatusFont(UINT dpi) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    const SystemParametersInfoForDpiFunction forDpi =
        SystemFunction<SystemParametersInfoForDpiFunction>(kUser32, "SystemParametersInfoForDpi");
    if (forDpi) {
        if (!forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
            return nullptr;
    } else {
        // The system's fonts are made for the screen's DPI; Windows 8.1 may show a window at another.
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return nullptr;
        metrics.lfStatusFont.lfHeight =
            MulDiv(metrics.lfStatusFont.lfHeight, static_cast<int>(dpi), static_cast<int>(DeviceDpi(nullptr)));
    }
    return CreateFontIndirectW(&metrics.lfStatusFont);
}
