#pragma once
#include "app/ui_state.h"
#include "render/geometry.h"
#include "render/toolkit.h"

#include <optional>

// The keyboard focus ring, in whole frame pixels: a light band around the control and a dark outline
// around that band, so one of the two stands out against any picture, panel or button under it. Both
// follow the scale but never get thinner than 2 (light) and 1 (dark) pixels, and they are filled
// without anti-aliasing, so no edge fades into what is under it.
struct FocusRing {
    int left, top, right, bottom; // the light band's inner edge; right and bottom exclusive
    int light, dark;              // band widths in pixels
};

// The ring around a control's hit rectangle (design units) drawn at `scale`; it keeps a gap from the
// control so its label stays clear.
FocusRing focusRingAround(DesignRect control, float scale);

// The ring the interface shows now: around the focused control while focus is shown (after Tab).
std::optional<FocusRing> shownFocusRing(const UiState& ui, UiScale scale);

// Everything the ring covers: its outline's outer edge, right and bottom exclusive.
struct FocusRingBounds {
    int left, top, right, bottom;
};
FocusRingBounds focusRingBounds(const FocusRing& ring);

// Fills the ring in frame pixels, whatever world transform the caller has set (restored after).
void drawFocusRing(DrawContext& ctx, const FocusRing& ring);
