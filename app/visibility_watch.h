#pragma once
#include "app/visibility.h"
#include "app/window_counters.h"

#include <windows.h>

// The window's edge of visibility: it learns whether the window can be seen (the windows above it,
// cloaking, the session being locked, the display being off), sets the frame timer's period to match
// and keeps the counters other tools read. UI thread only.
//
// Each update returns true when the window has just become visible again: the caller then brings its
// clocks up to date and repaints the whole window.

inline constexpr UINT_PTR kFrameTimer = 1;

// WM_CREATE: starts the frame timer, asks for session and display notifications, publishes the counters.
void startVisibilityWatch(HWND window);
// WM_DESTROY.
void stopVisibilityWatch(HWND window);

bool visibilityOnActivate(HWND window, bool active);
bool visibilityOnSize(HWND window, bool minimised);
// Minimised the timer stops, unless something only it can bring is due in `dueMs` (0: nothing).
void visibilityWakeWhenMinimisedIn(HWND window, unsigned dueMs);
// Moved, or a paint arrived while hidden (something of the window was exposed): looks again.
bool visibilityOnMove(HWND window);
// WM_DISPLAYCHANGE: the monitors are measured again, and the window looks again.
bool visibilityOnDisplayChange(HWND window);
bool visibilityOnPaint(HWND window);
// Each frame-timer tick: looks again when due (see coverageCheckDue).
bool visibilityOnTick(HWND window);
// WM_WTSSESSION_CHANGE (its wParam) and WM_POWERBROADCAST's PBT_POWERSETTINGCHANGE (its lParam).
bool visibilityOnSession(HWND window, WPARAM change);
bool visibilityOnPower(HWND window, LPARAM setting);

WindowShown windowShownNow();
WindowCounters& windowCounters();
