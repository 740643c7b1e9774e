#pragma once
#include "app/ui_state.h"
#include "link/link_state.h"
#include "render/geometry.h"

#include <cstddef>

// Where each control is (design units on a W x H canvas) and when it can be clicked; drawing and
// clicking both read this, so they always agree.
DesignRect hitRect(HitTarget target, int W, int H);

struct HitConditions {
    Screen screen;
    size_t sceneCount;
    bool linkingEnabled;
    bool signOutOffered; // the linking card shows "CERRAR SESIÓN"
};
bool isHitTestable(HitTarget target, const HitConditions& when);

// What decides hit-testability, taken from the window's state, its library's scene count and its copy
// of the link service's snapshot.
inline HitConditions hitConditionsFor(const UiState& ui, size_t sceneCount, const LinkState& link) {
    return {ui.screen, sceneCount, ui.linkingEnabled, ui.linkingEnabled && signOutOffered(link)};
}

// Mouse position in client pixels to the control under it, or None; the window passes its screen's
// DPI factor (computeUiScale).
HitTarget hitTest(float x, float y, int clientWidth, int clientHeight, const HitConditions& when,
                  float dpiFactor = 1.0f);

// The parts drawn over the interface that change with the carousel or every frame. Drawing and the
// fast path's partial redraws both read these, so a redraw always covers what was drawn.
DesignRect emblemRect();
// Position bar `index` (below kMaxSceneBars), inside the rectangle of SceneDot0 + index; the progress fill is
// the same bar cut to `share` (0..1) of its width.
inline constexpr size_t kMaxSceneBars = 4;
DesignRect sceneBarRect(size_t index, int W, int H);
DesignRect progressRect(size_t index, float share, int W, int H);
// The span of the first `count` position bars (empty for none).
DesignRect sceneBarsRect(size_t count, int W, int H);
DesignRect sceneCaptionRect(int W, int H);
DesignRect sceneCounterRect(int W, int H);
// The counter's ink ends well before its box, which the previous button's focus ring touches.
DesignRect sceneCounterInkRect(int W, int H);

// Texts a screen reader reads besides the controls, each where it is drawn (design units on W x H).
enum TextBox : int32_t {
    BoxNewsCardTitle = 100,
    BoxNewsCardBody,
    BoxPanelTitle,
    BoxPanelHeadline,
    BoxPanelBody,
    BoxSteamRow,
    BoxDiscordRow,
    BoxStatusLine,
    BoxErrorLine,
    BoxFooterLine,
};
DesignRect textBoxRect(TextBox box, int W, int H);

// Origin of the linking card on a W x H canvas.
DesignPoint linkingCardOrigin(int W, int H);
