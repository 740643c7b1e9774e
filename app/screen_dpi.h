#pragma once
#include <windows.h>

// The window's edge to the screen's DPI. Windows 6.0 has none of the newer calls, so they are looked
// up at run time and replaced by the device context's LOGPIXELSX where missing.

// Sent by Windows 8.1 and later when the window's DPI changes (not declared for Windows 6.0).
inline constexpr UINT kDpiChangedMessage = 0x02E0;

// Declares the process DPI-aware, once and before anything is measured: per monitor (so the window
// hears of a move to a screen with another DPI) where Windows offers it, else system-wide.
void declareDpiAwareness();

// The DPI of the screen the window is on, or of the primary screen for no window; 96 if unknown.
int windowDpi(HWND window);
