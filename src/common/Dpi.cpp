#include "common/Dpi.h"

namespace {

template <class F>
F* UserFunction(const char* name) {
    static HMODULE user = GetModuleHandleW(L"user32.dll");
    return reinterpret_cast<F*>(user ? GetProcAddress(user, name) : nullptr);
}

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

UINT DpiOf(HWND window) {
    static auto* const getDpiForWindow = UserFunction<UINT WINAPI(HWND)>("GetDpiForWindow");
    UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    static auto* const adjust =
        UserFunction<BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, dpi)) AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

int SystemMetricForDpi(int index, UINT dpi) {
    static auto* const metric = UserFunction<int WINAPI(int, UINT)>("GetSystemMetricsForDpi");
    return metric ? metric(index, dpi) : GetSystemMetrics(index);
}
