#pragma once
#include "app/run_mode.h"

#include <windows.h>

inline constexpr wchar_t kWindowClass[] = L"OrvaneGamingLauncher";
inline constexpr wchar_t kWindowTitle[] = L"OrvaneGaming 1.0.1";

// The window modes: creates the launcher window, runs its message loop and returns the exit code
// (the quit message's code, or 4 when the window cannot be created).
int runWindowMode(HINSTANCE instance, int showCommand, RunMode mode);

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
