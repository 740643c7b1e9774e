#pragma once
#include <cstdint>

// What the window has done, for a tool in another process (the window tests' probe): the window
// keeps the record's address in a property, and the tool reads it with ReadProcessMemory, so counting
// costs the window no call at all.
inline constexpr wchar_t kWindowCountersProperty[] = L"OrvaneGaming.WindowCounters";

struct WindowCounters {
    uint64_t ticks = 0;         // frame-timer wake-ups
    uint64_t paints = 0;        // paints that drew a frame
    uint32_t timerPeriodMs = 0; // the frame timer's period now; 0: no timer
    uint32_t shown = 0;         // WindowShown: 0 visible, 1 hidden, 2 minimised
    uint64_t linkWakes = 0;     // messages from the link service that a new snapshot waits
};
