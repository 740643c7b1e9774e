// A console tool the window tests run beside the launcher: it reads and moves the launcher's window
// through the Win32 API, which is what the launcher itself sees (X11 tools only see Wine's frame).
//
//   window_probe state            one line: left top width height clientLeft clientTop clientWidth
//                                 clientHeight iconic zoomed foreground recreations  (exit 1: no window)
//   window_probe restore          restore from minimised and bring to the front
//   window_probe size W H         resize the window (outer size), keeping its position (exit 3: refused)
//   window_probe objects          "<GDI objects> <windows>" of the launcher's process (exit 4: unreadable)
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

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
    if (std::wcscmp(argv[1], L"size") == 0 && argc == 4) {
        const int width = _wtoi(argv[2]), height = _wtoi(argv[3]);
        return SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER) ? 0 : 3;
    }
    return 2;
}
