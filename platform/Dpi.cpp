#include "platform/Dpi.h"

namespace bw {

namespace {

UINT ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ::ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT RealWindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    // 0 for a window handle that is not valid.
    const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

UINT RealMonitorDpi(HMONITOR monitor) {
    // shcore.dll is not loaded by every process; it is looked for in the system's folder only.
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor = [] {
        const HMODULE shcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shcore == nullptr ? nullptr
                                 : reinterpret_cast<GetDpiForMonitorFn>(
                                       reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
    }();
    constexpr int kEffectiveDpi = 0; // MDT_EFFECTIVE_DPI
    UINT x = 0;
    UINT y = 0;
    if (getDpiForMonitor != nullptr && SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && y != 0) {
        return y;
    }
    return ScreenDpi();
}

} // namespace

namespace seam {
TSeam<UINT(HWND)> WindowDpi(&RealWindowDpi);
TSeam<UINT(HMONITOR)> MonitorDpi(&RealMonitorDpi);
} // namespace seam

UINT DpiOfWindow(HWND window) {
    return seam::WindowDpi(window);
}

UINT DpiOfMonitor(HMONITOR monitor) {
    return seam::MonitorDpi(monitor);
}

int MetricAtDpi(int index, UINT dpi) {
    using ForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = reinterpret_cast<ForDpiFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    return forDpi != nullptr ? forDpi(index, dpi) : ::GetSystemMetrics(index);
}

} // namespace bw
