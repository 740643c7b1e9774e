// A console tool the window tests run beside the launcher: it reads and moves the launcher's window
// through the Win32 API, which is what the launcher itself sees (X11 tools only see Wine's frame).
//
//   window_probe state            one line: left top width height clientLeft clientTop clientWidth
//                                 clientHeight iconic zoomed foreground recreations ticks paints
//                                 timerPeriodMs shown linkWakes  (exit 1: no window; the last five -1
//                                 when the window's counters cannot be read)
//   window_probe restore          restore from minimised and bring to the front
//   window_probe size W H         resize the window (outer size), keeping its position (exit 3: refused)
//   window_probe objects          "<GDI objects> <windows>" of the launcher's process (exit 4: unreadable)
//   window_probe cover SECONDS    a plain white window 20 pixels larger than the launcher on every side
//                                 takes the foreground on top of it and prints "covering"; after SECONDS
//                                 it moves to the screen's top-left corner, off the launcher, keeping the
//                                 foreground, prints "uncovered", and is destroyed 3 s later
#include "app/window_counters.h"

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

// Wine has been seen to miss the launcher's window in one lookup while it runs on: a few more, spread
// over two seconds, before saying there is none.
HWND launcherWindow() {
    for (int attempt = 0;; ++attempt) {
        if (HWND window = FindWindowW(L"OrvaneGamingLauncher", nullptr); window != nullptr || attempt == 20)
            return window;
        Sleep(100);
    }
}

// The launcher's counters, read from its memory at the address its property holds.
bool readCounters(HWND window, WindowCounters& counters) {
    const void* address = GetPropW(window, kWindowCountersProperty);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_READ, FALSE, pid);
    if (address == nullptr || process == nullptr)
        return false;
    SIZE_T got = 0;
    const bool read =
        ReadProcessMemory(process, address, &counters, sizeof counters, &got) && got == sizeof counters;
    CloseHandle(process);
    return read;
}

int printState(HWND window) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const auto recreations =
        reinterpret_cast<uintptr_t>(GetPropW(window, L"OrvaneGaming.BackBufferRecreations"));
    std::printf("%ld %ld %ld %ld %ld %ld %ld %ld %d %d %d %llu ", outer.left, outer.top,
                outer.right - outer.left, outer.bottom - outer.top, origin.x, origin.y, client.right,
                client.bottom, IsIconic(window) ? 1 : 0, IsZoomed(window) ? 1 : 0,
                GetForegroundWindow() == window ? 1 : 0, static_cast<unsigned long long>(recreations));
    WindowCounters counters;
    if (readCounters(window, counters))
        std::printf("%llu %llu %u %u %llu\n", static_cast<unsigned long long>(counters.ticks),
                    static_cast<unsigned long long>(counters.paints), counters.timerPeriodMs, counters.shown,
                    static_cast<unsigned long long>(counters.linkWakes));
    else
        std::printf("-1 -1 -1 -1 -1\n");
    return 0;
}

// One entry of the GDI handle table the PEB points at (the layout Windows and Wine share).
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24);
constexpr size_t kGdiHandles = 0x10000;
constexpr size_t kPebGdiTable = 0xF8;
constexpr USHORT kStockFlag = 0x80;

// Wine 8 answers 0 to GetGuiResources, but keeps each process's GDI handle table in that process and
// points its PEB at it: the live entries other than stock objects are its GDI objects.
long long gdiObjects(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (query == nullptr || process == nullptr)
        return -1;
    PROCESS_BASIC_INFORMATION basic{};
    UINT64 table = 0;
    std::vector<GdiHandleEntry> entries(kGdiHandles);
    SIZE_T got = 0;
    const bool read =
        query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process,
                          static_cast<BYTE*>(static_cast<void*>(basic.PebBaseAddress)) + kPebGdiTable, &table,
                          sizeof table, &got) &&
        table != 0 &&
        ReadProcessMemory(process, reinterpret_cast<void*>(table), entries.data(),
                          entries.size() * sizeof(GdiHandleEntry), &got);
    CloseHandle(process);
    if (!read)
        return -1;
    long long live = 0;
    for (const GdiHandleEntry& entry : entries)
        live += entry.type != 0 && (entry.unique & kStockFlag) == 0;
    return live;
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long long*>(count);
    return TRUE;
}

struct WindowCount {
    DWORD pid;
    long long count;
};

BOOL CALLBACK countTopLevel(HWND window, LPARAM param) {
    auto* windows = reinterpret_cast<WindowCount*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == windows->pid) {
        ++windows->count;
        EnumChildWindows(window, countChild, reinterpret_cast<LPARAM>(&windows->count));
    }
    return TRUE;
}

int printObjects(HWND window) {
    WindowCount windows{0, 0};
    GetWindowThreadProcessId(window, &windows.pid);
    const long long gdi = gdiObjects(windows.pid);
    if (gdi < 0)
        return 4;
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&windows));
    std::printf("%lld %lld\n", gdi, windows.count);
    return 0;
}

void pumpFor(ULONGLONG ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

// The game's window over the launcher, for a while; its thread answers its messages meanwhile.
int cover(HWND launcher, int seconds) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"OrvaneProbeCover";
    RegisterClassExW(&windowClass);
    RECT place{};
    GetWindowRect(launcher, &place);
    InflateRect(&place, 20, 20);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Cover", WS_POPUP | WS_VISIBLE, place.left,
                                  place.top, place.right - place.left, place.bottom - place.top, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 3;
    SetForegroundWindow(window);
    std::printf("covering\n");
    std::fflush(stdout);
    pumpFor(static_cast<ULONGLONG>(seconds) * 1000);
    SetWindowPos(window, nullptr, 0, 0, 200, 80, SWP_NOZORDER | SWP_NOACTIVATE);
    std::printf("uncovered\n");
    std::fflush(stdout);
    pumpFor(3000);
    DestroyWindow(window);
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
    if (std::wcscmp(argv[1], L"objects") == 0)
        return printObjects(window);
    if (std::wcscmp(argv[1], L"restore") == 0) {
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return 0;
    }
    if (std::wcscmp(argv[1], L"cover") == 0 && argc == 3)
        return cover(window, _wtoi(argv[2]));
    if (std::wcscmp(argv[1], L"size") == 0 && argc == 4) {
        const int width = _wtoi(argv[2]), height = _wtoi(argv[3]);
        return SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER) ? 0 : 3;
    }
    return 2;
}
