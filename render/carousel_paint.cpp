#include "render/carousel_paint.h"

#include "render/carousel.h"
#include "render/hit_geometry.h"

#include <algorithm>
#include <cstdio>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr ARGB kBackdropBase = 0xFF070D16;

void fillLinearGradient(DrawContext& ctx, DesignPoint from, DesignPoint to, const ARGB* colours,
                        const REAL* positions, int count, DesignRect area) {
    GpPointF p1(from.x, from.y), p2(to.x, to.y);
    GpLineGradient* brush = nullptr;
    GpStatus status = GdipCreateLineBrush(&p1, &p2, colours[0], colours[count - 1], WrapModeTile, &brush);
    keepStatus(ctx, status);
    if (status != Ok)
        return;
    if (count > 2)
        keepStatus(ctx, GdipSetLinePresetBlend(brush, colours, positions, count));
    keepStatus(ctx, GdipFillRectangle(ctx.graphics, brush, area.x, area.y, area.w, area.h));
    GdipDeleteBrush(brush);
}

DesignPoint centreOf(DesignRect r) {
    return {r.x + r.w / 2, r.y + r.h / 2};
}

} // namespace

void drawBackdrop(DrawContext& ctx, int W, int H, const SceneLibrary& library) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    keepStatus(ctx, GdipGraphicsClear(ctx.graphics, kBackdropBase));
    drawCarousel(ctx, {0, 0, w, h}, library);

    const ARGB side[] = {0xE6070D16, 0xBE070D16, 0x2C070D16, 0x08070D16};
    const REAL sideAt[] = {0.0f, 0.32f, 0.62f, 1.0f};
    fillLinearGradient(ctx, {0, 0}, {w, 0}, side, sideAt, 4, {0, 0, w, h});

    const float third = static_cast<float>(H / 3);
    const ARGB bottom[] = {0x00070D16, 0xFD070D16};
    fillLinearGradient(ctx, {0, third}, {0, h}, bottom, nullptr, 2, {0, third, w, h - third});

    const ARGB top[] = {0xC0070D16, 0x00070D16};
    fillLinearGradient(ctx, {0, 0}, {0, 180}, top, nullptr, 2, {0, 0, w, 180});
}

void drawCarousel(DrawContext& ctx, DesignRect rect, const SceneLibrary& library) {
    const size_t n = library.scenes.size();
    if (n == 0 || rect.w <= 0 || rect.h <= 0)
        return;
    GraphicsState state = 0;
    keepStatus(ctx, GdipSaveGraphics(ctx.graphics, &state));
    keepStatus(ctx, GdipSetClipRect(ctx.graphics, rect.x, rect.y, rect.w, rect.h, CombineModeIntersect));
    keepStatus(ctx, GdipSetInterpolationMode(ctx.graphics, InterpolationModeHighQualityBicubic));
    keepStatus(ctx, GdipSetPixelOffsetMode(ctx.graphics, PixelOffsetModeHighQuality));
    keepStatus(ctx, GdipSetCompositingQuality(ctx.graphics, CompositingQualityHighQuality));
    const Scene* current = library.current < n ? library.scenes[library.current].get() : nullptr;
    const Scene* previous = library.previous < n ? library.scenes[library.previous].get() : nullptr;
    if (library.fading) {
        if (previous != nullptr)
            drawScenePicture(ctx, *previous, rect, library.previousShownAt, 1.0f, library);
        if (current != nullptr)
            drawScenePicture(ctx, *current, rect, library.currentShownAt, fadeOpacity(library), library);
    } else if (current != nullptr) {
        drawScenePicture(ctx, *current, rect, library.currentShownAt, 1.0f, library);
    }
    keepStatus(ctx, GdipRestoreGraphics(ctx.graphics, state));
}

SourceCrop sceneCrop(const Scene& scene, DesignRect rect, uint64_t shownAt, const SceneLibrary& library) {
    // Cover the rectangle: crop the picture's longer side, then drift and zoom very slightly.
    const float iw = static_cast<float>(scene.width), ih = static_cast<float>(scene.height);
    const float pictureAspect = iw / ih, rectAspect = rect.w / rect.h;
    float sw = iw, sh = ih;
    if (rectAspect < pictureAspect)
        sw = rectAspect * ih;
    else
        sh = iw / rectAspect;
    const float e = driftEasing(library, shownAt);
    const float zoom = kSceneZoomBase + kSceneZoomRange * e;
    sw /= zoom;
    sh /= zoom;
    float sx = (iw - sw) * 0.5f + (e - 0.5f) * 0.008f * sw;
    sx = std::max(0.0f, std::min(sx, iw - sw));
    const float sy = (ih - sh) * 0.5f;
    return {sx, sy, sw, sh};
}

void drawScenePicture(DrawContext& ctx, const Scene& scene, DesignRect rect, uint64_t shownAt, float opacity,
                      const SceneLibrary& library) {
    if (opacity <= 0.0f || !scene.image || scene.width == 0 || scene.height == 0)
        return;
    const SourceCrop crop = sceneCrop(scene, rect, shownAt, library);
    GpImageAttributes* attributes = scene.opaqueAttributes.handle.get();
    if (opacity < 1.0f) {
        ColorMatrix matrix = {
            {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, opacity, 0}, {0, 0, 0, 0, 1}}};
        attributes = scene.fadeAttributes.handle.get();
        if (attributes != nullptr)
            keepStatus(ctx, GdipSetImageAttributesColorMatrix(attributes, ColorAdjustTypeBitmap, TRUE,
                                                              &matrix, nullptr, ColorMatrixFlagsDefault));
    }
    keepStatus(ctx,
               GdipDrawImageRectRect(ctx.graphics, scene.image.get(), rect.x, rect.y, rect.w, rect.h, crop.x,
                                     crop.y, crop.w, crop.h, UnitPixel, attributes, nullptr, nullptr));
}

void drawCarouselControls(DrawContext& ctx, int W, int H, const SceneLibrary& library, const UiState& ui,
                          unsigned parts) {
    const size_t n = library.scenes.size();
    for (size_t i = 0; i < std::min<size_t>(n, 4); ++i) {
        const DesignRect dot = hitRect(static_cast<HitTarget>(SceneDot0 + i), W, H);
        const bool isCurrent = i == library.current;
        if (parts & ControlBars)
            fillRoundRect(ctx, {dot.x + 4, dot.y + 12, 20, 3}, 1.4f, isCurrent ? ThemeText : 0x5097AEC5, 0);
        const float share = holdProgress(library);
        if ((parts & ControlProgress) && isCurrent && !library.paused && share > 0.0f)
            fillRoundRect(ctx, {dot.x + 4, dot.y + 12, 20 * share, 3}, 1.4f, ThemeAccent, 0);
    }
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    if (parts & ControlCounter) {
        wchar_t counter[32];
        std::swprintf(counter, 32, L"%02d / %02d", n == 0 ? 0 : static_cast<int>(library.current) + 1,
                      static_cast<int>(n));
        drawText(ctx, counter, {w - 252, h - 57, 55, 22}, 9, ThemeTextMuted, 0, AlignNear);
    }
    if (!(parts & ControlButtons))
        return;

    for (HitTarget control : {PreviousSceneButton, PauseButton, NextSceneButton}) {
        const DesignRect r = hitRect(control, W, H);
        ARGB colour = 0x50A4B5C5;
        if (n >= 2) {
            colour = ui.hover == control ? ThemeText : ThemeTextMuted;
            if (ui.hover == control)
                fillRoundRect(ctx, r, 6, 0x1ACADEF2, 0);
        }
        const DesignPoint c = centreOf(r);
        if (control == PreviousSceneButton) {
            const DesignPoint chevron[] = {{c.x + 2, c.y - 4}, {c.x - 2, c.y}, {c.x + 2, c.y + 4}};
            strokePolyline(ctx, chevron, 3, colour, 1.5f);
        } else if (control == NextSceneButton) {
            const DesignPoint chevron[] = {{c.x - 2, c.y - 4}, {c.x + 2, c.y}, {c.x - 2, c.y + 4}};
            strokePolyline(ctx, chevron, 3, colour, 1.5f);
        } else if (library.paused) {
            const DesignPoint play[] = {{c.x - 3, c.y - 5}, {c.x + 5, c.y}, {c.x - 3, c.y + 5}};
            fillPolygon(ctx, play, 3, colour);
        } else {
            strokeLine(ctx, {c.x - 3, c.y - 5}, {c.x - 3, c.y + 5}, colour, 1.5f);
            strokeLine(ctx, {c.x + 3, c.y - 5}, {c.x + 3, c.y + 5}, colour, 1.5f);
        }
    }
}
