// The floor of the hidden-window benchmark: a window of the launcher's size whose thread does nothing
// but wait in its message loop (no timer, no other thread). What it costs under Wine is the least any
// window can cost there; tools/benchmark.sh --hidden-only prints the launcher's figures beside it.
//
//   idle_floor [MS]   with MS, a timer of that period whose messages do nothing: what waking costs
#include <windows.h>

namespace {

LRESULT CALLBACK floorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = floorProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = L"OrvaneBenchFloor";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, windowClass.lpszClassName, L"Floor", WS_POPUP | WS_VISIBLE,
                                  250, 95, 1420, 890, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 4;
    SetForegroundWindow(window);
    if (argc == 2)
        SetTimer(window, 1, static_cast<UINT>(_wtoi(argv[1])), nullptr);
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
