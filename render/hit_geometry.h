#pragma once
#include "app/ui_state.h"
#include "render/geometry.h"

#include <cstddef>

// Where each control is (design units on a W x H canvas) and when it can be clicked; drawing and
// clicking both read this, so they always agree.
DesignRect hitRect(HitTarget target, int W, int H);

struct HitConditions {
    Screen screen;
    size_t sceneCount;
    bool linkingEnabled;
};
bool isHitTestable(HitTarget target, const HitConditions& when);

// What decides hit-testability, taken from the window's state and its library's scene count.
inline HitConditions hitConditionsFor(const UiState& ui, size_t sceneCount) {
    return {ui.screen, sceneCount, ui.linkingEnabled};
}

// Mouse position in client pixels to the control under it, or None; the window passes its screen's
// DPI factor (computeUiScale).
HitTarget hitTest(float x, float y, int clientWidth, int clientHeight, const HitConditions& when,
                  float dpiFactor = 1.0f);

// Origin of the linking card on a W x H canvas.
DesignPoint linkingCardOrigin(int W, int H);
