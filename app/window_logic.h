#pragma once
#include "app/ui_state.h"
#include "render/hit_geometry.h"

#include <windows.h>

#include <cstddef>

// Window rules that need no window: placement, sizing, the custom frame, the Tab ring, the emblem
// clock. Pixel sizes are physical; those stated for 96 DPI grow with the screen's DPI factor
// (dpiPixels), so the window looks the same on a high-DPI screen.

struct WindowPlacement {
    int left, top, width, height;
};
// Centred on a W x H screen: 1420 x 890 where it fits, else 40 narrower / 80 shorter than the screen.
WindowPlacement windowPlacement(int screenWidth, int screenHeight, float dpiFactor = 1.0f);

// The smallest the window can be dragged to: the 960 x 640 canvas, but no larger than the maximised
// size, so the window still fits a smaller work area.
struct WindowSize {
    int width, height;
};
WindowSize minimumTrackSize(float dpiFactor, WindowSize maximised);

// Where the client area lies for a proposed window rectangle: all of it while restored, as the
// program draws its own frame; exactly the monitor's work area while maximised, so nothing hangs past
// the screen (the window rectangle when the work area is unknown).
RECT clientAreaFor(const RECT& window, bool maximised, const RECT* workArea);

// Non-client hit code for a client point (HTCAPTION, HTLEFT, ... HTCLIENT), R and B the client's right
// and bottom.
int frameHitCode(int x, int y, int right, int bottom, bool maximised, float dpiFactor = 1.0f);

// The control Tab (or Shift+Tab) moves the focus to: the screen's fixed ring (its first 5 stops
// without two scenes), then "MIS CUENTAS" on the home screens or "CERRAR SESIÓN" on the linking
// screen while they can be clicked.
HitTarget nextFocus(const HitConditions& when, HitTarget focus, bool backwards);

// What a key press asks for (keys never reach default processing), `when` describing the current
// screen. Tab moves the focus here; the screen keys change ui.screen here.
struct KeyResult {
    bool activates = false; // activate(target)
    HitTarget target = None;
    bool minimise = false;
    bool repaint = false;
};
KeyResult applyKey(UiState& ui, const HitConditions& when, unsigned key, bool ctrl, bool shift,
                   bool repeated);

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
