#include "app/screen_dpi.h"

#include "render/geometry.h"

namespace {

template <typename Function> Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
               : nullptr;
}

} // namespace

void declareDpiAwareness() {
    static bool declared = false;
    if (declared)
        return;
    declared = true;
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = user32Function<SetContext>("SetProcessDpiAwarenessContext");
    // Per monitor, version 2 (Windows 10 1703 and later).
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
    if (setContext == nullptr || !setContext(perMonitorV2))
        SetProcessDPIAware();
}

int windowDpi(HWND window) {
    using GetForWindow = UINT(WINAPI*)(HWND);
    static const auto getForWindow = user32Function<GetForWindow>("GetDpiForWindow");
    if (window != nullptr && getForWindow != nullptr) {
        const UINT dpi = getForWindow(window);
        if (dpi != 0)
            return static_cast<int>(dpi);
    }
    HDC dc = GetDC(window);
    if (dc == nullptr)
        return kBaseDpi;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    return dpi > 0 ? dpi : kBaseDpi;
}
