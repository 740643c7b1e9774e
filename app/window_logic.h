#pragma once
#include "app/ui_state.h"

#include <cstddef>

// Window rules that need no window: placement, the custom frame, the Tab ring, the emblem clock.

struct WindowPlacement {
    int left, top, width, height;
};
// Centred on a W x H screen: 1420 x 890 where it fits, else 40 narrower / 80 shorter than the screen.
WindowPlacement windowPlacement(int screenWidth, int screenHeight);

// Non-client hit code for a client point (HTCAPTION, HTLEFT, ... HTCLIENT), R and B the client's right
// and bottom.
int frameHitCode(int x, int y, int right, int bottom, bool maximised);

// The control Tab (or Shift+Tab) moves the focus to.
HitTarget nextFocus(Screen screen, size_t sceneCount, HitTarget focus, bool backwards);

// What a key press asks for (keys never reach default processing). Tab moves the focus here; the
// screen keys change ui.screen here.
struct KeyResult {
    bool activates = false; // activate(target)
    HitTarget target = None;
    bool minimise = false;
    bool repaint = false;
};
KeyResult applyKey(UiState& ui, size_t sceneCount, unsigned key, bool ctrl, bool shift, bool repeated);

// Emblem turns 4 degrees a second; a stall advances it by at most 0.4 degrees. lastFrameTime 0 = none.
struct EmblemClock {
    float angle;
    double lastFrameTime;
};
EmblemClock advanceEmblem(EmblemClock clock, double now);

// Whether a tick repaints: always while the launcher has the focus, and for the first 2 s after it
// lost it; then about once a second (every 64th tick), so a launcher left behind the game stays
// cheap: the picture's drift alone would otherwise redraw the frame several times a second. The
// clocks keep real time either way, so nothing drifts.
bool paintsThisTick(double backgroundSince, double now, uint64_t tick);
