// A console tool the window tests run beside the launcher: it reads and moves the launcher's window
// through the Win32 API, which is what the launcher itself sees (X11 tools only see Wine's frame).
//
//   window_probe state            one line: left top width height clientLeft clientTop clientWidth
//                                 clientHeight iconic zoomed foreground recreations  (exit 1: no window)
//   window_probe restore          restore from minimised and bring to the front
//   window_probe size W H         resize the window (outer size), keeping its position (exit 3: refused)
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND launcherWindow() {
    return FindWindowW(L"OrvaneGamingLauncher", nullptr);
}

int printState(HWND window) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const auto recreations =
        reinterpret_cast<uintptr_t>(GetPropW(window, L"OrvaneGaming.BackBufferRecreations"));
    std::printf("%ld %ld %ld %ld %ld %ld %ld %ld %d %d %d %llu\n", outer.left, outer.top,
                outer.right - outer.left, outer.bottom - outer.top, origin.x, origin.y, client.right,
                client.bottom, IsIconic(window) ? 1 : 0, IsZoomed(window) ? 1 : 0,
                GetForegroundWindow() == window ? 1 : 0, static_cast<unsigned long long>(recreations));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    HWND window = launcherWindow();
    if (window == nullptr)
        return 1;
    if (std::wcscmp(argv[1], L"state") == 0)
        return printState(window);
    if (std::wcscmp(argv[1], L"restore") == 0) {
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return 0;
    }
    if (std::wcscmp(argv[1], L"size") == 0 && argc == 4) {
        const int width = _wtoi(argv[2]), height = _wtoi(argv[3]);
        return SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER) ? 0 : 3;
    }
    return 2;
}
