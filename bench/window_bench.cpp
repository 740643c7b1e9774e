// The Windows side of the real window's benchmark: starts the launcher and does what only Win32 can
// (find its window, read its memory counters, take the foreground from it and give it back). The CPU
// figures are read from Linux by bench/measure_window.py, which drives this tool.
//
//   window_bench startup EXE RUNS   start EXE RUNS times; per run one line "startup_ms MS": from just
//                                   before CreateProcessW to its window having painted its first frame
//   window_bench session EXE        start EXE, print "ready WINPID MS", then answer one line per command
//                                   read from standard input:
//       memory      "memory PRIVATE_USAGE WORKING_SET PAGEFILE_USAGE" (bytes, GetProcessMemoryInfo)
//       background  a plain window of this tool takes the foreground:
//                   "background OURS_FOREGROUND LAUNCHER_FOREGROUND LAUNCHER_ACTIVE" (1/0)
//       activate    the launcher takes it back: "activate LAUNCHER_FOREGROUND LAUNCHER_ACTIVE"
//       cover       a plain window of this tool, larger than the launcher's, takes the foreground on
//                   top of it: "cover OURS_FOREGROUND" (1/0)
//       uncover     that window is hidden again: "uncover"
//       minimise    the launcher is minimised: "minimise LAUNCHER_ICONIC" (1/0)
//       restore     the launcher is restored and takes the foreground: "restore LAUNCHER_FOREGROUND"
//       quit        close the launcher: "quit EXIT_CODE"
#include "bench/bench_clock.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kLauncherClass[] = L"OrvaneGamingLauncher";
// Set by the launcher at its first painted frame.
constexpr wchar_t kFirstFrameProperty[] = L"OrvaneGaming.BackBufferRecreations";
constexpr wchar_t kForegroundClass[] = L"OrvaneBenchForeground";
constexpr wchar_t kCoverClass[] = L"OrvaneBenchCover";
constexpr UINT kCommandMessage = WM_APP + 1;

struct Launcher {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK matchLauncher(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t name[64];
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && GetClassNameW(window, name, 64) > 0 &&
        std::wcscmp(name, kLauncherClass) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND launcherWindowOf(DWORD processId) {
    WindowSearch search{processId, nullptr};
    EnumWindows(matchLauncher, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Starts the launcher and waits, polling every millisecond, for its first painted frame. Returns the
// time from just before CreateProcessW, or a negative value when it never came.
double startLauncher(const std::wstring& exe, Launcher& launcher) {
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    std::wstring commandLine = L"\"" + exe + L"\"";
    // The launcher's standard handles go to NUL: whatever it might print must not mix with the
    // answers on this tool's standard output.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (nul != INVALID_HANDLE_VALUE) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    }
    const double start = nowMs();
    const BOOL started =
        CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, nul != INVALID_HANDLE_VALUE, 0,
                       nullptr, folder.c_str(), &startup, &launcher.process);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started)
        return -1.0;
    while (nowMs() - start < 30000.0) {
        HWND window = launcherWindowOf(launcher.process.dwProcessId);
        if (window != nullptr && GetPropW(window, kFirstFrameProperty) != nullptr) {
            const double elapsed = nowMs() - start;
            launcher.window = window;
            return elapsed;
        }
        if (WaitForSingleObject(launcher.process.hProcess, 0) == WAIT_OBJECT_0)
            return -2.0;
        Sleep(1);
    }
    return -3.0;
}

DWORD closeLauncher(Launcher& launcher) {
    if (launcher.process.hProcess == nullptr)
        return 0;
    if (launcher.window != nullptr)
        PostMessageW(launcher.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(launcher.process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(launcher.process.hProcess, 137);
        WaitForSingleObject(launcher.process.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(launcher.process.hProcess, &code);
    CloseHandle(launcher.process.hThread);
    CloseHandle(launcher.process.hProcess);
    launcher = Launcher{};
    return code;
}

int runStartup(const std::wstring& exe, int runs) {
    for (int i = 0; i < runs; ++i) {
        Launcher launcher;
        const double ms = startLauncher(exe, launcher);
        const DWORD code = closeLauncher(launcher);
        if (ms < 0) {
            std::printf("startup_failed %.0f %lu\n", ms, code);
            return 1;
        }
        std::printf("startup_ms %.2f\n", ms);
        std::fflush(stdout);
        Sleep(500); // let the previous process's teardown finish before the next start
    }
    return 0;
}

// Runs this thread's messages for a while, so activation and painting settle on both sides.
void pumpFor(double ms) {
    const double end = nowMs() + ms;
    MSG msg;
    while (nowMs() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Whether the launcher's own thread still counts its window as the active one.
bool launcherActive(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return GetGUIThreadInfo(thread, &info) && info.hwndActive == window;
}

HWND makePlainWindow(const wchar_t* className, DWORD style, RECT place) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, className, L"Another program", style, place.left, place.top,
                           place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

HWND makeForegroundWindow() {
    return makePlainWindow(kForegroundClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, {0, 0, 320, 200});
}

// A borderless window 20 pixels larger than the launcher on every side: the game's window over it.
HWND makeCoverWindow(HWND launcher) {
    RECT place{};
    GetWindowRect(launcher, &place);
    InflateRect(&place, 20, 20);
    return makePlainWindow(kCoverClass, WS_POPUP, place);
}

// Standard input arrives on its own thread, one line per message to the main thread, which must keep
// pumping its window's messages meanwhile.
DWORD WINAPI readCommands(void* param) {
    const DWORD mainThread = static_cast<DWORD>(reinterpret_cast<uintptr_t>(param));
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char chunk[256];
    DWORD read = 0;
    while (ReadFile(in, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        for (DWORD i = 0; i < read; ++i) {
            if (chunk[i] == '\n') {
                if (!line.empty())
                    PostThreadMessageW(mainThread, kCommandMessage, 0,
                                       reinterpret_cast<LPARAM>(new std::string(line)));
                line.clear();
            } else if (chunk[i] != '\r') {
                line += chunk[i];
            }
        }
    }
    PostThreadMessageW(mainThread, kCommandMessage, 0, reinterpret_cast<LPARAM>(new std::string("quit")));
    return 0;
}

// Answers one command; false once the session is over.
bool answer(const std::string& command, Launcher& launcher, HWND& ours, HWND& covering) {
    if (command == "memory") {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(launcher.process.hProcess,
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
            std::printf("memory %llu %llu %llu\n", static_cast<unsigned long long>(counters.PrivateUsage),
                        static_cast<unsigned long long>(counters.WorkingSetSize),
                        static_cast<unsigned long long>(counters.PagefileUsage));
        else
            std::printf("memory_failed %lu\n", GetLastError());
    } else if (command == "background") {
        if (ours == nullptr)
            ours = makeForegroundWindow();
        ShowWindow(ours, SW_SHOWNORMAL);
        SetForegroundWindow(ours);
        pumpFor(300);
        const HWND front = GetForegroundWindow();
        std::printf("background %d %d %d\n", front == ours ? 1 : 0, front == launcher.window ? 1 : 0,
                    launcherActive(launcher.window) ? 1 : 0);
    } else if (command == "activate") {
        SetForegroundWindow(launcher.window);
        pumpFor(100);
        std::printf("activate %d %d\n", GetForegroundWindow() == launcher.window ? 1 : 0,
                    launcherActive(launcher.window) ? 1 : 0);
    } else if (command == "cover") {
        if (covering == nullptr)
            covering = makeCoverWindow(launcher.window);
        ShowWindow(covering, SW_SHOWNORMAL);
        SetWindowPos(covering, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(covering);
        pumpFor(300);
        std::printf("cover %d\n", GetForegroundWindow() == covering ? 1 : 0);
    } else if (command == "uncover") {
        if (covering != nullptr)
            ShowWindow(covering, SW_HIDE);
        pumpFor(100);
        std::printf("uncover\n");
    } else if (command == "minimise") {
        ShowWindow(launcher.window, SW_MINIMIZE);
        pumpFor(300);
        std::printf("minimise %d\n", IsIconic(launcher.window) ? 1 : 0);
    } else if (command == "restore") {
        ShowWindow(launcher.window, SW_RESTORE);
        SetForegroundWindow(launcher.window);
        pumpFor(300);
        std::printf("restore %d\n", GetForegroundWindow() == launcher.window ? 1 : 0);
    } else if (command == "quit") {
        std::printf("quit %lu\n", closeLauncher(launcher));
        std::fflush(stdout);
        return false;
    } else {
        std::printf("unknown %s\n", command.c_str());
    }
    std::fflush(stdout);
    return true;
}

int runSession(const std::wstring& exe) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists before the reader posts
    Launcher launcher;
    const double ms = startLauncher(exe, launcher);
    if (ms < 0) {
        std::printf("startup_failed %.0f %lu\n", ms, closeLauncher(launcher));
        return 1;
    }
    std::printf("ready %lu %.2f\n", launcher.process.dwProcessId, ms);
    std::fflush(stdout);
    HANDLE reader =
        CreateThread(nullptr, 0, readCommands,
                     reinterpret_cast<void*>(static_cast<uintptr_t>(GetCurrentThreadId())), 0, nullptr);
    HWND ours = nullptr, covering = nullptr;
    bool running = reader != nullptr;
    while (running && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kCommandMessage) {
            auto* command = reinterpret_cast<std::string*>(msg.lParam);
            running = answer(*command, launcher, ours, covering);
            delete command;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (launcher.process.hProcess != nullptr)
        closeLauncher(launcher);
    if (ours != nullptr)
        DestroyWindow(ours);
    if (covering != nullptr)
        DestroyWindow(covering);
    // The reader may still be blocked on standard input; the process ends it.
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"startup") == 0)
        return runStartup(argv[2], std::max(1, _wtoi(argv[3])));
    if (argc == 3 && std::wcscmp(argv[1], L"session") == 0)
        return runSession(argv[2]);
    std::fprintf(stderr, "usage: window_bench startup EXE RUNS | window_bench session EXE\n");
    return 64;
}
