#include "render/home_screen.h"

#include "render/carousel.h"
#include "render/carousel_paint.h"
#include "render/focus_ring.h"
#include "render/hit_geometry.h"
#include "render/screen_texts.h"

#include <cmath>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr ARGB kHoverWash = 0x18DAE8F6;
constexpr ARGB kRule = 0x23A5BACF;

// Two overlapping squares in the maximise square's 8 x 8 place: the front one lower left, the back
// one showing only its top and right edges.
void drawRestoreGlyph(DrawContext& ctx, float cx) {
    strokeRect(ctx, {cx - 4, 14, 6, 6}, ThemeTextMuted, 1, false);
    const DesignPoint back[] = {{cx - 2, 14}, {cx - 2, 12}, {cx + 4, 12}, {cx + 4, 18}, {cx + 2, 18}};
    strokePolyline(ctx, back, 5, ThemeTextMuted, 1);
}

void paintHeader(DrawContext& ctx, int W, int H, const UiState& ui, const LinkState& link) {
    const float w = static_cast<float>(W);
    drawTitle(ctx, L"ORVANE GAMING", {112, 42, 258, 27}, 17, ThemeText);
    drawText(ctx, L"Q U O R L A N E   /   R O L E P L A Y", {113, 70, 275, 20}, 9, ThemeTextMuted, 0,
             AlignNear);

    for (int i = 0; i < 3; ++i) {
        const HitTarget tab = static_cast<HitTarget>(TabHome + i);
        const DesignRect r = hitRect(tab, W, H);
        const bool selected = ui.screen == static_cast<Screen>(i);
        if (ui.hover == tab)
            fillRoundRect(ctx, r, 6, kHoverWash, 0);
        drawText(ctx, tabLabel(tab), r, 13, selected ? ThemeText : ThemeTextMuted, selected ? 1 : 0,
                 AlignCenter);
        if (selected)
            strokeLine(ctx, {r.x + 28, r.y + r.h}, {r.x + r.w - 28, r.y + r.h}, ThemeAccent, 2);
    }

    if (ui.linkingEnabled) {
        const DesignRect r = hitRect(AccountsButton, W, H);
        if (ui.hover == AccountsButton)
            fillRoundRect(ctx, r, 6, kHoverWash, 0);
        drawText(ctx, accountsLabel(link.ready), r, 10, ThemeTextMuted, 1, AlignFar);
    } else {
        drawText(ctx, L"STEAM  /  GARRY'S MOD", {w - 252, 53, 190, 28}, 10, ThemeTextMuted, 1, AlignFar);
    }
    strokeLine(ctx, {64, 112}, {static_cast<float>(W - 64), 112}, kRule, 1);

    for (HitTarget button : {MinimizeButton, MaximizeButton, CloseButton}) {
        const DesignRect r = hitRect(button, W, H);
        if (ui.hover == button)
            fillRoundRect(ctx, r, 2, button == CloseButton ? 0xDCB02B26 : 0x23DCECFC, 0);
        const float cx = r.x + r.w / 2;
        if (button == MinimizeButton)
            strokeLine(ctx, {cx - 4, 19}, {cx + 4, 19}, ThemeTextMuted, 1);
        else if (button == MaximizeButton && ui.windowMaximised)
            drawRestoreGlyph(ctx, cx);
        else if (button == MaximizeButton)
            strokeRect(ctx, {cx - 4, 12, 8, 8}, ThemeTextMuted, 1, false);
        else
            drawGlyph(ctx, GlyphClose, r, ThemeTextMuted);
    }
}

void paintHero(DrawContext& ctx, int W, int H) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    const bool narrow = W < 1120;
    strokeLine(ctx, {66, h - 411}, {91, h - 411}, ThemeAccent, 2);
    drawText(ctx, L"LA GALAXIA NECESITA TU HISTORIA", {104, h - 428, w - 504, 34}, 10, 0xFFCFDAE6, 1,
             AlignNear);
    drawTitle(ctx, L"ORVANE", {59, h - 390, w - 456, 94}, narrow ? 72.0f : 83.0f, ThemeText);
    drawTitle(ctx, L"GAMING", {61, h - 302, w - 456, 84}, narrow ? 64.0f : 74.0f, 0xFFC6D7E9);
    drawText(ctx, L"Un escuadrón. Una historia. Tu lugar en la Orvane.", {66, h - 216, w - 468, 33}, 15,
             ThemeTextMuted, 0, AlignNear);
}

void paintPanel(DrawContext& ctx, int W, int H, Screen screen, const LauncherConfig& config) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    const PanelTexts texts = panelTexts(screen, config);
    fillRoundRect(ctx, {64, 150, w - 464, h - 358}, 12, 0xB80A131F, 0x2F88A4C0);
    drawText(ctx, texts.label, {88, 168, w - 512, 25}, 10, 0xFFCDDBE9, 1, AlignNear);
    drawTitle(ctx, texts.title, textBoxRect(BoxPanelTitle, W, H), texts.titleSize, ThemeText);
    drawText(ctx, texts.headline, textBoxRect(BoxPanelHeadline, W, H), 21, ThemeText, 1, AlignNear);
    drawText(ctx, texts.body, textBoxRect(BoxPanelBody, W, H), 15, ThemeTextMuted, 0, AlignNear);
}

void paintPlayBlock(DrawContext& ctx, int W, int H, const UiState& ui, const FrameInputs& in) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    const LauncherConfig& config = in.config;
    fillRoundRect(ctx, hitRect(PlayButton, W, H), 6, ui.hover == PlayButton ? 0xE6223041 : 0xA00F1A29,
                  0xD2E84B3D);
    drawText(ctx, kPlayLabel, {84, h - 167, 150, 50}, 17, ThemeText, 0, AlignNear);
    const DesignPoint triangle[] = {{257, h - 147}, {265, h - 142}, {257, h - 137}};
    fillPolygon(ctx, triangle, 3, ThemeText);
    drawText(ctx, playSubtitle(config), {66, h - 99, w - 468, 25}, 11, ThemeTextMuted, 0, AlignNear);

    fillRoundRect(ctx, {w - 380, h - 306, 316, 200}, 10, 0xD60A131F, 0x2E88A4C0);
    drawText(ctx, L"V E R A N E T", {w - 356, h - 288, 260, 24}, 9, ThemeTextMuted, 1, AlignNear);
    drawText(ctx, newsCardTitle(config), textBoxRect(BoxNewsCardTitle, W, H), 22, ThemeText, 1, AlignNear);
    drawText(ctx, newsCardBody(config), textBoxRect(BoxNewsCardBody, W, H), 12, ThemeTextMuted, 0, AlignNear);
    const bool hovered = ui.hover == CommunityButton;
    drawText(ctx, communityLabel(config), {w - 356, h - 151, 244, 32}, 10, hovered ? ThemeText : 0xFFC3D5E8,
             1, AlignNear);
    drawGlyph(ctx, GlyphArrow, {w - 116, h - 147, 24, 24}, hovered ? ThemeText : ThemeTextMuted);
}

void paintFooterAndOverlays(DrawContext& ctx, int W, int H, const FrameInputs& in) {
    const float w = static_cast<float>(W);
    const UiState& ui = in.ui;
    strokeLine(ctx, {64, static_cast<float>(H - 76)},
               {static_cast<float>(W - 64), static_cast<float>(H - 76)}, kRule, 1);
    drawText(ctx, footerLine(ui, in.scenes.paused), textBoxRect(BoxFooterLine, W, H), 9, ThemeTextMuted, 0,
             AlignNear);
    drawCarouselControls(ctx, W, H, in.scenes, ui, ControlButtons);

    constexpr ARGB kMarks = 0x41ADC6DF;
    strokeLine(ctx, {18, 132}, {29, 132}, kMarks, 1);
    strokeLine(ctx, {18, 132}, {18, 143}, kMarks, 1);
    strokeLine(ctx, {w - 18, 132}, {w - 29, 132}, kMarks, 1);
    strokeLine(ctx, {w - 18, 132}, {w - 18, 143}, kMarks, 1);
}

void paintInterface(DrawContext& ctx, int W, int H, const FrameInputs& in) {
    paintHeader(ctx, W, H, in.ui, in.link);
    switch (in.ui.screen) {
    case Home:
        paintHero(ctx, W, H);
        break;
    case News:
    case Community:
        paintPanel(ctx, W, H, in.ui.screen, in.config);
        break;
    case Linking:
        paintLinkingCard(ctx, W, H, in.ui.previewLinkState ? *in.ui.previewLinkState : in.link, in.ui);
        break;
    }
    if (in.ui.screen != Linking)
        paintPlayBlock(ctx, W, H, in.ui, in);
    paintFooterAndOverlays(ctx, W, H, in);
}

} // namespace

void paintScreen(DrawContext& ctx, int pixelWidth, int pixelHeight, const FrameInputs& in, unsigned parts) {
    if (pixelWidth < 1 || pixelHeight < 1)
        return;
    const UiScale ui = computeUiScale(pixelWidth, pixelHeight, in.dpiFactor);
    keepStatus(ctx, GdipScaleWorldTransform(ctx.graphics, ui.scale, ui.scale, MatrixOrderPrepend));
    keepStatus(ctx, GdipSetSmoothingMode(ctx.graphics, SmoothingModeAntiAlias));
    keepStatus(ctx, GdipSetTextRenderingHint(ctx.graphics, TextRenderingHintClearTypeGridFit));

    const int W = ui.width, H = ui.height;
    if (parts & PaintBackdrop)
        drawBackdrop(ctx, W, H, in.scenes);
    if (parts & PaintInterface) {
        paintInterface(ctx, W, H, in);
        if (const std::optional<FocusRing> ring = shownFocusRing(in.ui, ui))
            drawFocusRing(ctx, *ring);
    }
    if ((parts & PaintSceneLabels) && in.ui.screen != Linking)
        drawText(ctx, sceneCaption(in.scenes), sceneCaptionRect(W, H), 9, 0xFFB9CFE5, 1, AlignFar);
    const unsigned controls = ((parts & PaintSceneBars) ? ControlBars : 0u) |
                              ((parts & PaintSceneLabels) ? ControlCounter : 0u) |
                              ((parts & PaintProgress) ? ControlProgress : 0u);
    drawCarouselControls(ctx, W, H, in.scenes, in.ui, controls);
    if (parts & PaintEmblem) {
        const DesignRect emblem = emblemRect();
        drawEmblem(ctx, emblem.x, emblem.y, emblem.w, ThemeText, in.ui.emblemAngle);
    }
}
