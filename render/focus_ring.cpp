#include "render/focus_ring.h"

#include "app/owned.h"
#include "render/hit_geometry.h"

#include <algorithm>
#include <cmath>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr float kGap = 3;        // design units between the control and the ring
constexpr float kLightWidth = 2; // design units, and the least in pixels
constexpr float kDarkWidth = 1;  // design units, and the least in pixels

int widthInPixels(float designWidth, float scale) {
    return std::max(static_cast<int>(designWidth), static_cast<int>(std::lround(designWidth * scale)));
}

FocusRingBounds grown(FocusRingBounds box, int by) {
    return {box.left - by, box.top - by, box.right + by, box.bottom + by};
}

// A band `width` pixels wide just outside the box; answers the band's outer edge.
FocusRingBounds fillBandOutside(DrawContext& ctx, ARGB colour, FocusRingBounds box, int width) {
    OwnedBrush brush;
    keepStatus(ctx, GdipCreateSolidFill(colour, brush.out()));
    if (!brush)
        return grown(box, width);
    const int outerW = box.right - box.left + 2 * width, innerH = box.bottom - box.top;
    const int x = box.left - width;
    keepStatus(ctx, GdipFillRectangleI(ctx.graphics, brush.get(), x, box.top - width, outerW, width));
    keepStatus(ctx, GdipFillRectangleI(ctx.graphics, brush.get(), x, box.bottom, outerW, width));
    keepStatus(ctx, GdipFillRectangleI(ctx.graphics, brush.get(), x, box.top, width, innerH));
    keepStatus(ctx, GdipFillRectangleI(ctx.graphics, brush.get(), box.right, box.top, width, innerH));
    return grown(box, width);
}

} // namespace

FocusRing focusRingAround(DesignRect control, float scale) {
    FocusRing ring;
    ring.left = static_cast<int>(std::floor((control.x - kGap) * scale));
    ring.top = static_cast<int>(std::floor((control.y - kGap) * scale));
    ring.right = static_cast<int>(std::ceil((control.x + control.w + kGap) * scale));
    ring.bottom = static_cast<int>(std::ceil((control.y + control.h + kGap) * scale));
    ring.light = widthInPixels(kLightWidth, scale);
    ring.dark = widthInPixels(kDarkWidth, scale);
    return ring;
}

std::optional<FocusRing> shownFocusRing(const UiState& ui, UiScale scale) {
    const DesignRect control = hitRect(ui.focus, scale.width, scale.height);
    if (!ui.focusVisible || control.w <= 0)
        return std::nullopt;
    return focusRingAround(control, scale.scale);
}

FocusRingBounds focusRingBounds(const FocusRing& ring) {
    return grown({ring.left, ring.top, ring.right, ring.bottom}, ring.light + ring.dark);
}

void drawFocusRing(DrawContext& ctx, const FocusRing& ring) {
    GraphicsState saved = 0;
    keepStatus(ctx, GdipSaveGraphics(ctx.graphics, &saved));
    keepStatus(ctx, GdipResetWorldTransform(ctx.graphics));
    keepStatus(ctx, GdipSetSmoothingMode(ctx.graphics, SmoothingModeNone));
    keepStatus(ctx, GdipSetPixelOffsetMode(ctx.graphics, PixelOffsetModeNone));
    const FocusRingBounds light =
        fillBandOutside(ctx, kFocusRingLight, {ring.left, ring.top, ring.right, ring.bottom}, ring.light);
    fillBandOutside(ctx, kFocusRingDark, light, ring.dark);
    keepStatus(ctx, GdipRestoreGraphics(ctx.graphics, saved));
}
