#include "app/visibility_watch.h"

#include "app/monotonic.h"

#include <dwmapi.h>
#include <wtsapi32.h>

#include <cstring>
#include <vector>

namespace {

// The display's own state since Windows 8 (off, on, dimmed), and the monitor's power before it.
constexpr GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
constexpr GUID kMonitorPowerOn = {
    0x02731015, 0x4510, 0x4526, {0x99, 0xe6, 0xe5, 0xa1, 0x7e, 0xbd, 0x1a, 0xea}};
// Past this many windows above the launcher it counts as visible rather than walk on.
constexpr int kMostWindowsAbove = 512;

struct Watch {
    VisibilityFacts facts;
    WindowShown shown = WindowShown::Visible;
    bool active = true;
    // Minimised, in how long something only the timer can bring is due (0: nothing).
    unsigned minimisedDueMs = 0;
    double lastWalk = 0.0;
    // All the monitors' rectangle, asked once per display change: under Wine each of its four
    // measures is three wineserver requests, more than the rest of a walk.
    RECT screens{};
    bool screensKnown = false;
    // The windows above that covered it at the last walk, and where they were.
    std::vector<HWND> covering;
    std::vector<RECT> coveringAt;
    HPOWERNOTIFY power = nullptr;
    bool sessionWatched = false;
    // Whether the system answers DWM's questions; Wine does not (E_NOTIMPL), and is not asked again.
    bool dwmAnswers = true;
    WindowCounters counters;
};
Watch gWatch;

bool askDwm(HWND window, DWORD attribute, void* value, DWORD size) {
    if (!gWatch.dwmAnswers)
        return false;
    const HRESULT result = DwmGetWindowAttribute(window, attribute, value, size);
    gWatch.dwmAnswers = result != E_NOTIMPL;
    return SUCCEEDED(result);
}

bool cloaked(HWND window) {
    DWORD value = 0;
    return askDwm(window, DWMWA_CLOAKED, &value, sizeof value) && value != 0;
}

// What a window covers on screen: its visible frame where the system knows it (without the invisible
// resize borders), else its rectangle.
RECT screenBounds(HWND window) {
    RECT bounds{};
    if (!askDwm(window, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds))
        GetWindowRect(window, &bounds);
    return bounds;
}

// A window that surely hides what lies under its rectangle: shown, not minimised or cloaked, neither
// see-through nor shaped by a region.
bool opaqueAbove(HWND window) {
    // A top-level window's own style says whether it is shown: one question instead of two.
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0 || (style & WS_MINIMIZE) != 0)
        return false;
    if ((GetWindowLongPtrW(window, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT)) != 0)
        return false;
    RECT region{};
    return GetWindowRgnBox(window, &region) == ERROR && !cloaked(window);
}

const RECT& virtualScreen() {
    if (!gWatch.screensKnown) {
        const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
        gWatch.screens = {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                          y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
        gWatch.screensKnown = true;
    }
    return gWatch.screens;
}

bool coveredByWindowsAbove(HWND window) {
    RECT target = screenBounds(window);
    if (!IntersectRect(&target, &target, &virtualScreen()))
        return false;
    std::vector<HWND>& windows = gWatch.covering;
    std::vector<RECT>& above = gWatch.coveringAt;
    windows.clear();
    above.clear();
    int walked = 0;
    for (HWND w = GetWindow(window, GW_HWNDPREV); w != nullptr; w = GetWindow(w, GW_HWNDPREV)) {
        if (++walked > kMostWindowsAbove)
            return false;
        if (opaqueAbove(w)) {
            windows.push_back(w);
            above.push_back(screenBounds(w));
        }
    }
    return coveredCompletely(target, above.data(), above.size());
}

// Whether each window that covered the launcher at the last walk is still shown where it was: two
// questions a window, where a walk asks several of every window above.
bool coverInPlace() {
    for (size_t i = 0; i < gWatch.covering.size(); ++i) {
        const LONG_PTR style = GetWindowLongPtrW(gWatch.covering[i], GWL_STYLE);
        const RECT at = screenBounds(gWatch.covering[i]);
        if ((style & WS_VISIBLE) == 0 || (style & WS_MINIMIZE) != 0 || !EqualRect(&at, &gWatch.coveringAt[i]))
            return false;
    }
    return true;
}

void lookAgain(HWND window) {
    gWatch.facts.covered = coveredByWindowsAbove(window);
    gWatch.facts.cloaked = cloaked(window);
    gWatch.lastWalk = monotonicSeconds();
}

// Follows the facts: the timer's period, the counters; true when the window just became visible.
bool settle(HWND window) {
    const WindowShown shown = windowShown(gWatch.facts);
    const bool shownAgain = shown == WindowShown::Visible && gWatch.shown != WindowShown::Visible;
    gWatch.shown = shown;
    const UINT period = framePeriodMs(shown, gWatch.minimisedDueMs);
    if (period != gWatch.counters.timerPeriodMs) {
        // The same id: the timer is replaced, never doubled.
        if (period == 0)
            KillTimer(window, kFrameTimer);
        else
            SetTimer(window, kFrameTimer, period, nullptr);
        gWatch.counters.timerPeriodMs = period;
    }
    gWatch.counters.shown = static_cast<uint32_t>(shown);
    return shownAgain;
}

} // namespace

void startVisibilityWatch(HWND window) {
    gWatch = Watch{};
    SetPropW(window, kWindowCountersProperty, &gWatch.counters);
    gWatch.sessionWatched = WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    gWatch.power =
        RegisterPowerSettingNotification(window, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (gWatch.power == nullptr)
        gWatch.power =
            RegisterPowerSettingNotification(window, &kMonitorPowerOn, DEVICE_NOTIFY_WINDOW_HANDLE);
    settle(window);
}

void stopVisibilityWatch(HWND window) {
    KillTimer(window, kFrameTimer);
    RemovePropW(window, kWindowCountersProperty);
    if (gWatch.sessionWatched)
        WTSUnRegisterSessionNotification(window);
    if (gWatch.power != nullptr)
        UnregisterPowerSettingNotification(gWatch.power);
    gWatch.sessionWatched = false;
    gWatch.power = nullptr;
}

bool visibilityOnActivate(HWND window, bool active) {
    gWatch.active = active;
    lookAgain(window);
    return settle(window);
}

bool visibilityOnSize(HWND window, bool minimised) {
    gWatch.facts.minimised = minimised;
    if (!minimised)
        lookAgain(window);
    return settle(window);
}

void visibilityWakeWhenMinimisedIn(HWND window, unsigned dueMs) {
    gWatch.minimisedDueMs = dueMs;
    settle(window);
}

bool visibilityOnMove(HWND window) {
    if (gWatch.facts.minimised)
        return false;
    lookAgain(window);
    return settle(window);
}

bool visibilityOnDisplayChange(HWND window) {
    gWatch.screensKnown = false;
    return visibilityOnMove(window);
}

bool visibilityOnPaint(HWND window) {
    return gWatch.shown == WindowShown::Hidden && visibilityOnMove(window);
}

bool visibilityOnTick(HWND window) {
    ++gWatch.counters.ticks;
    switch (coverageCheckDue(gWatch.shown, gWatch.active, gWatch.lastWalk, monotonicSeconds())) {
    case CoverageCheck::None:
        return false;
    case CoverageCheck::CoveringWindows:
        if (gWatch.facts.covered && coverInPlace()) {
            gWatch.facts.cloaked = cloaked(window);
            break;
        }
        lookAgain(window);
        break;
    case CoverageCheck::AllWindowsAbove:
        lookAgain(window);
        break;
    }
    return settle(window);
}

bool visibilityOnSession(HWND window, WPARAM change) {
    if (change == WTS_SESSION_LOCK)
        gWatch.facts.sessionLocked = true;
    else if (change == WTS_SESSION_UNLOCK)
        gWatch.facts.sessionLocked = false;
    else
        return false;
    return visibilityOnMove(window) || settle(window);
}

bool visibilityOnPower(HWND window, LPARAM setting) {
    const auto* change = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
    if (change == nullptr || change->DataLength < sizeof(DWORD) ||
        (change->PowerSetting != kConsoleDisplayState && change->PowerSetting != kMonitorPowerOn))
        return false;
    DWORD state = 0;
    memcpy(&state, change->Data, sizeof state);
    gWatch.facts.displayOff = state == 0;
    return visibilityOnMove(window) || settle(window);
}

WindowShown windowShownNow() {
    return gWatch.shown;
}

WindowCounters& windowCounters() {
    return gWatch.counters;
}
