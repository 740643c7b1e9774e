#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Whether the window can be seen, and what that asks of its frame timer. No window here: the window's
// edge (app/visibility_watch.h) gathers the facts.

// A frame each 16 ms while the window can be seen; while hidden one wake-up a second, to look again
// whether it can be seen; minimised no timer at all (the link service posts what it has for the window).
inline constexpr unsigned kFrameMs = 16;
inline constexpr unsigned kHiddenWakeMs = 1000;
// While the launcher is inactive and can be seen, how often the windows above it are looked at.
inline constexpr double kCoverageRecheckSeconds = 1.0;
// While it is covered, each wake-up only asks whether the windows that cover it are still shown where
// they were; all the windows above it are walked again this often.
inline constexpr double kCoverageWalkSeconds = 10.0;

// Whether the rectangles `above` together cover all of `target` (all in screen coordinates). An empty
// target is never covered, and an answer that would take too many pieces is "not covered": when in
// doubt, the window draws.
bool coveredCompletely(const RECT& target, const RECT* above, size_t count);

struct VisibilityFacts {
    bool minimised = false;
    bool covered = false; // by other top-level windows above it
    bool cloaked = false; // on another virtual desktop, or hidden by the shell
    bool sessionLocked = false;
    bool displayOff = false;
};

enum class WindowShown : uint32_t { Visible = 0, Hidden = 1, Minimised = 2 };

WindowShown windowShown(const VisibilityFacts& facts);
// 0: no timer. Minimised, `minimisedDueMs` is how long until something only a timer can bring is due
// (0: nothing is).
unsigned framePeriodMs(WindowShown shown, unsigned minimisedDueMs);

// What a tick looks at: while hidden, on every wake-up (once a second) whether the covering windows
// are still in place, and every 10 s all the windows above; once a second all of them while visible but
// inactive; nothing while active (activation, moves and sizes look then) or minimised. The times are of
// the last walk over all the windows above.
enum class CoverageCheck { None, CoveringWindows, AllWindowsAbove };
CoverageCheck coverageCheckDue(WindowShown shown, bool active, double lastWalk, double now);
