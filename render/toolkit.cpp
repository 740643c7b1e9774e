#include "render/toolkit.h"
#include "render/text_symbols.h"

#include "render/toolkit_internal.h"

#include "app/owned.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

extern const Argb ThemeText = 0xFFF4F7FA;
extern const Argb ThemeTextMuted = 0xFFA4B5C5;
extern const Argb ThemeAccent = 0xFFE84B3D;

namespace {

constexpr ARGB kSteamFill = 0xFFFFFFFF;
constexpr ARGB kDiscordFill = 0xFF5865F2;
constexpr ARGB kIconTile = 0xFF111E2E;

constexpr wchar_t kBodyFamily[] = L"Segoe UI";
constexpr wchar_t kTitleFamily[] = L"Bahnschrift";

// Model boxes of the two logo tables.
constexpr float kSteamX = 133.424f, kSteamY = 451.673f, kSteamW = 77.29f, kSteamH = 77.605f;
constexpr float kDiscordW = 65.0f, kDiscordH = 48.0f;

// Pen widths are in world units so they follow the caller's transform like everything else.
// Keeps the status of a creating call; an object whose creation failed is never used.
template <typename OwnedT> OwnedT created(DrawContext& ctx, GpStatus status, OwnedT object) {
    keepStatus(ctx, status);
    if (status != Ok)
        object.release();
    return object;
}

OwnedPen makePen(DrawContext& ctx, ARGB colour, float width) {
    OwnedPen pen;
    const GpStatus status = GdipCreatePen1(colour, width, UnitWorld, pen.out());
    return created(ctx, status, std::move(pen));
}

OwnedBrush makeBrush(DrawContext& ctx, ARGB colour) {
    OwnedBrush brush;
    const GpStatus status = GdipCreateSolidFill(colour, brush.out());
    return created(ctx, status, std::move(brush));
}

OwnedPath makePath(DrawContext& ctx, FillMode mode) {
    OwnedPath path;
    const GpStatus status = GdipCreatePath(mode, path.out());
    return created(ctx, status, std::move(path));
}

void fillPathWith(DrawContext& ctx, GpPath* path, ARGB colour) {
    if (const OwnedBrush brush = makeBrush(ctx, colour))
        keepStatus(ctx, GdipFillPath(ctx.graphics, brush.get(), path));
}

std::vector<GpPointF> toPoints(const DesignPoint* points, int count) {
    std::vector<GpPointF> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        out.emplace_back(points[i].x, points[i].y);
    return out;
}

// Looking a family up by name walks the installed fonts, far dearer than the text itself, and a
// frame draws dozens of strings in two families: each looked-up family is kept until released.
struct KnownFamily {
    std::wstring name;
    OwnedFontFamily family;
};
std::vector<KnownFamily>& knownFamilies() {
    static std::vector<KnownFamily> families;
    return families;
}

GpFontFamily* familyNamed(const wchar_t* name) {
    const std::wstring key = name != nullptr ? name : L"";
    for (const KnownFamily& known : knownFamilies())
        if (known.name == key)
            return known.family.get();
    GpFontFamily* family = createFontFamily(name);
    if (family != nullptr)
        knownFamilies().push_back({key, OwnedFontFamily(family)});
    return family;
}

struct TextExtent {
    float width = 0, height = 0;
    int lines = 0;
};

TextExtent measureText(DrawContext& ctx, std::wstring_view text, GpFont* font, GpStringFormat* format,
                       float layoutWidth) {
    const RectF layout(0, 0, layoutWidth, 1e6f);
    RectF box;
    INT fitted = 0, lines = 0;
    TextExtent extent;
    const GpStatus status = GdipMeasureString(ctx.graphics, text.data(), static_cast<INT>(text.size()), font,
                                              &layout, format, &box, &fitted, &lines);
    keepStatus(ctx, status);
    if (status == Ok)
        extent = {box.Width, box.Height, lines};
    return extent;
}

// GDI+ on Windows trims with "…" and clips to the layout box; Wine's does neither, and it centres
// text that does not fit above its box. So a string that does not fit its box is cut here, at a
// character boundary, to the longest start that fits with "…", the same on both. False when the
// text fits as it stands.
bool cutToBox(DrawContext& ctx, const wchar_t* text, GpFont* font, GpStringFormat* format, DesignRect rect,
              bool oneLine, std::wstring& cut) {
    constexpr float kSlack = 0.5f;
    const std::wstring_view whole = text;
    const float layoutWidth = oneLine ? 1e6f : rect.w;
    const TextExtent full = measureText(ctx, whole, font, format, layoutWidth);
    if (full.lines <= 0)
        return false;
    const int maxLines = std::max(1, static_cast<int>((rect.h + kSlack) / (full.height / full.lines)));
    const auto fits = [&](const TextExtent& e) {
        return oneLine ? e.width <= rect.w + kSlack : e.lines <= maxLines;
    };
    if (fits(full))
        return false;
    const auto candidate = [&](size_t n) {
        if (n > 0 && IS_HIGH_SURROGATE(whole[n - 1]))
            --n;
        while (n > 0 && whole[n - 1] == L' ')
            --n;
        return std::wstring(whole.substr(0, n)) + L"\u2026";
    };
    size_t low = 0, high = whole.size(); // candidate(low) is taken even if "…" alone does not fit
    while (high - low > 1) {
        const size_t middle = low + (high - low) / 2;
        const std::wstring attempt = candidate(middle);
        if (fits(measureText(ctx, attempt, font, format, layoutWidth)))
            low = middle;
        else
            high = middle;
    }
    cut = candidate(low);
    return true;
}

// The font and format one string is measured and drawn with.
struct TextTools {
    OwnedFont font;
    OwnedStringFormat format;
};

bool makeTextTools(DrawContext& ctx, const wchar_t* familyName, float size, INT style, INT formatFlags,
                   int alignment, TextTools& tools) {
    GpFontFamily* family = familyNamed(familyName);
    if (family == nullptr)
        return false;
    GpStatus status = GdipCreateFont(family, size, style, UnitPixel, tools.font.out());
    keepStatus(ctx, status);
    if (status != Ok)
        return false;
    status = GdipCreateStringFormat(formatFlags, LANG_NEUTRAL, tools.format.out());
    keepStatus(ctx, status);
    if (status != Ok)
        return false;
    keepStatus(ctx, GdipSetStringFormatAlign(tools.format.get(), static_cast<StringAlignment>(alignment)));
    keepStatus(ctx, GdipSetStringFormatLineAlign(tools.format.get(), StringAlignmentCenter));
    keepStatus(ctx, GdipSetStringFormatTrimming(tools.format.get(), StringTrimmingEllipsisCharacter));
    return true;
}

INT styleFor(int bold) {
    return bold == 1 ? FontStyleBold : FontStyleRegular;
}

// A label ending in a check mark or an arrow: its lead text, then the symbol's strokes where the
// glyph would stand. Both are clipped to the label's box, as a plain string is.
void drawSymbolLabel(DrawContext& ctx, TextTools& tools, const SymbolLabel& label, DesignRect rect,
                     float size, ARGB colour, bool bold, INT formatFlags, int alignment) {
    GpStringFormat* format = tools.format.get();
    keepStatus(ctx, GdipSetStringFormatFlags(format, formatFlags | StringFormatFlagsMeasureTrailingSpaces));
    const float leadWidth = measureText(ctx, label.lead, tools.font.get(), format, 1e6f).width;
    const SymbolPlacement at = placeSymbol(rect, leadWidth, size, alignment);
    keepStatus(ctx, GdipSetStringFormatAlign(format, StringAlignmentNear));
    const OwnedBrush brush = makeBrush(ctx, colour);
    const OwnedPen pen = makePen(ctx, colour, 1);
    if (!brush || !pen)
        return;
    const SymbolStrokes strokes = symbolStrokes(label.symbol, at.symbolBox, bold);
    keepStatus(ctx, GdipSetPenWidth(pen.get(), strokes.width));
    keepStatus(ctx, GdipSetPenLineCap197819(pen.get(), LineCapRound, LineCapRound, DashCapRound));
    keepStatus(ctx, GdipSetPenLineJoin(pen.get(), LineJoinRound));

    const RectF layout(at.leadX, rect.y, rect.x + rect.w - at.leadX, rect.h);
    GraphicsState saved = 0;
    keepStatus(ctx, GdipSaveGraphics(ctx.graphics, &saved));
    keepStatus(ctx, GdipSetClipRect(ctx.graphics, rect.x, rect.y, rect.w, rect.h, CombineModeIntersect));
    keepStatus(ctx, GdipDrawString(ctx.graphics, label.lead.data(), static_cast<INT>(label.lead.size()),
                                   tools.font.get(), &layout, format, brush.get()));
    for (int i = 0; i < 2; ++i) {
        if (strokes.counts[i] < 2)
            continue;
        const std::vector<GpPointF> line = toPoints(strokes.lines[i], strokes.counts[i]);
        keepStatus(ctx, GdipDrawLines(ctx.graphics, pen.get(), line.data(), strokes.counts[i]));
    }
    keepStatus(ctx, GdipRestoreGraphics(ctx.graphics, saved));
}

void drawString(DrawContext& ctx, const wchar_t* familyName, const wchar_t* text, DesignRect rect, float size,
                ARGB colour, INT style, INT formatFlags, int alignment) {
    TextTools tools;
    if (text == nullptr || !makeTextTools(ctx, familyName, size, style, formatFlags, alignment, tools))
        return;
    const SymbolLabel label = splitTrailingSymbol(text);
    if (label.symbol != TextSymbol::None)
        return drawSymbolLabel(ctx, tools, label, rect, size, colour, (style & FontStyleBold) != 0,
                               formatFlags, alignment);
    std::wstring cut;
    const bool oneLine = (formatFlags & StringFormatFlagsNoWrap) != 0;
    const wchar_t* shown =
        cutToBox(ctx, text, tools.font.get(), tools.format.get(), rect, oneLine, cut) ? cut.c_str() : text;
    const OwnedBrush brush = makeBrush(ctx, colour);
    if (!brush)
        return;
    const RectF layout(rect.x, rect.y, rect.w, rect.h);
    GraphicsState saved = 0;
    keepStatus(ctx, GdipSaveGraphics(ctx.graphics, &saved));
    keepStatus(ctx, GdipSetClipRect(ctx.graphics, rect.x, rect.y, rect.w, rect.h, CombineModeIntersect));
    keepStatus(ctx, GdipDrawString(ctx.graphics, shown, -1, tools.font.get(), &layout, tools.format.get(),
                                   brush.get()));
    keepStatus(ctx, GdipRestoreGraphics(ctx.graphics, saved));
}

// Builds a logo outline from its table, in model units.
OwnedPath buildOutline(DrawContext& ctx, const PathCommand* table, int count) {
    OwnedPath outline = makePath(ctx, FillModeWinding);
    GpPath* path = outline.get();
    if (path == nullptr)
        return outline;
    float cx = 0, cy = 0, startX = 0, startY = 0;
    for (int i = 0; i < count; ++i) {
        const PathCommand& c = table[i];
        switch (c.command) {
        case 'M':
            keepStatus(ctx, GdipStartPathFigure(path));
            cx = startX = c.x1;
            cy = startY = c.y1;
            break;
        case 'L':
            keepStatus(ctx, GdipAddPathLine(path, cx, cy, c.x1, c.y1));
            cx = c.x1;
            cy = c.y1;
            break;
        case 'C':
            keepStatus(ctx, GdipAddPathBezier(path, cx, cy, c.x1, c.y1, c.x2, c.y2, c.x3, c.y3));
            cx = c.x3;
            cy = c.y3;
            break;
        case 'Z':
            keepStatus(ctx, GdipClosePathFigure(path));
            cx = startX;
            cy = startY;
            break;
        default:
            break;
        }
    }
    return outline;
}

// Maps the outline by (s, 0, 0, s, dx, dy) and fills it in a saved state of its own.
void fillLogo(DrawContext& ctx, const PathCommand* table, int count, float s, float dx, float dy, ARGB colour,
              bool highQualityOffset) {
    const OwnedPath path = buildOutline(ctx, table, count);
    if (!path)
        return;
    OwnedMatrix matrix;
    const GpStatus status = GdipCreateMatrix2(s, 0, 0, s, dx, dy, matrix.out());
    keepStatus(ctx, status);
    if (status == Ok) {
        keepStatus(ctx, GdipTransformPath(path.get(), matrix.get()));
        GraphicsState state = 0;
        keepStatus(ctx, GdipSaveGraphics(ctx.graphics, &state));
        keepStatus(ctx, GdipSetSmoothingMode(ctx.graphics, SmoothingModeAntiAlias));
        if (highQualityOffset)
            keepStatus(ctx, GdipSetPixelOffsetMode(ctx.graphics, PixelOffsetModeHighQuality));
        fillPathWith(ctx, path.get(), colour);
        keepStatus(ctx, GdipRestoreGraphics(ctx.graphics, state));
    }
}

} // namespace

void releaseDrawingCaches() {
    knownFamilies().clear();
}

GpFontFamily* createFontFamily(const wchar_t* name) {
    GpFontFamily* family = nullptr;
    if (name != nullptr && GdipCreateFontFamilyFromName(name, nullptr, &family) == Ok && family != nullptr)
        return family;
    // Windows hands out one shared generic family; a clone is ours to delete on every platform.
    GpFontFamily* generic = nullptr;
    if (GdipGetGenericFontFamilySansSerif(&generic) != Ok || generic == nullptr)
        return nullptr;
    GpFontFamily* clone = nullptr;
    if (GdipCloneFontFamily(generic, &clone) != Ok)
        return nullptr;
    return clone;
}

void fillRoundRect(DrawContext& ctx, DesignRect rect, float radius, ARGB fill, ARGB border) {
    if (!(rect.w > 0) || !(rect.h > 0))
        return;
    const float r = std::min(radius, std::min(rect.w, rect.h) * 0.5f);
    const float d = 2 * r;
    const OwnedPath outline = makePath(ctx, FillModeAlternate);
    GpPath* path = outline.get();
    if (path == nullptr)
        return;
    if (d > 0) {
        keepStatus(ctx, GdipAddPathArc(path, rect.x, rect.y, d, d, 180, 90));
        keepStatus(ctx, GdipAddPathArc(path, rect.x + rect.w - d, rect.y, d, d, 270, 90));
        keepStatus(ctx, GdipAddPathArc(path, rect.x + rect.w - d, rect.y + rect.h - d, d, d, 0, 90));
        keepStatus(ctx, GdipAddPathArc(path, rect.x, rect.y + rect.h - d, d, d, 90, 90));
        keepStatus(ctx, GdipClosePathFigure(path));
    } else {
        // Arcs of an empty box are rejected; a square corner is what such a radius means.
        keepStatus(ctx, GdipAddPathRectangle(path, rect.x, rect.y, rect.w, rect.h));
    }
    fillPathWith(ctx, path, fill);
    if ((border >> 24) != 0) {
        if (const OwnedPen pen = makePen(ctx, border, 1.0f))
            keepStatus(ctx, GdipDrawPath(ctx.graphics, pen.get(), path));
    }
}

void drawTextInFamily(DrawContext& ctx, const wchar_t* family, const wchar_t* text, DesignRect rect,
                      float size, ARGB colour, int bold, int alignment) {
    drawString(ctx, family, text, rect, size, colour, styleFor(bold), 0, alignment);
}

void drawTitleInFamily(DrawContext& ctx, const wchar_t* family, const wchar_t* text, DesignRect rect,
                       float size, ARGB colour) {
    drawString(ctx, family, text, rect, size, colour, FontStyleBold, StringFormatFlagsNoWrap, AlignNear);
}

std::wstring textAsDrawn(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, int bold,
                         bool title) {
    TextTools tools;
    std::wstring cut;
    const INT flags = title ? StringFormatFlagsNoWrap : 0;
    if (text == nullptr || !makeTextTools(ctx, title ? kTitleFamily : kBodyFamily, size,
                                          title ? FontStyleBold : styleFor(bold), flags, AlignNear, tools))
        return {};
    return cutToBox(ctx, text, tools.font.get(), tools.format.get(), rect, title, cut) ? cut
                                                                                       : std::wstring(text);
}

void drawText(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, ARGB colour, int bold,
              int alignment) {
    drawTextInFamily(ctx, kBodyFamily, text, rect, size, colour, bold, alignment);
}

void drawTitle(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, ARGB colour) {
    drawTitleInFamily(ctx, kTitleFamily, text, rect, size, colour);
}

void drawGlyph(DrawContext& ctx, int kind, DesignRect rect, ARGB colour) {
    if (kind != GlyphArrow && kind != GlyphClose)
        return;
    const OwnedPen owned = makePen(ctx, colour, 1.8f);
    GpPen* pen = owned.get();
    if (pen == nullptr)
        return;
    keepStatus(ctx, GdipSetPenLineJoin(pen, LineJoinRound));
    const float cx = rect.x + rect.w / 2, cy = rect.y + rect.h / 2;
    GpGraphics* g = ctx.graphics;
    if (kind == GlyphArrow) {
        keepStatus(ctx, GdipDrawLine(g, pen, cx - 8, cy, cx + 8, cy));
        keepStatus(ctx, GdipDrawLine(g, pen, cx + 3, cy - 5, cx + 8, cy));
        keepStatus(ctx, GdipDrawLine(g, pen, cx + 3, cy + 5, cx + 8, cy));
    } else {
        keepStatus(ctx, GdipDrawLine(g, pen, cx - 5, cy - 5, cx + 5, cy + 5));
        keepStatus(ctx, GdipDrawLine(g, pen, cx + 5, cy - 5, cx - 5, cy + 5));
    }
}

void drawEmblem(DrawContext& ctx, float x, float y, float size, ARGB colour, float angle) {
    GpGraphics* g = ctx.graphics;
    GraphicsState outer = 0;
    keepStatus(ctx, GdipSaveGraphics(g, &outer));
    // Prepended steps run on model points last-added-first: centre the model, scale, rotate, place.
    keepStatus(ctx, GdipTranslateWorldTransform(g, x + size / 2, y + size / 2, MatrixOrderPrepend));
    keepStatus(ctx, GdipRotateWorldTransform(g, angle, MatrixOrderPrepend));
    keepStatus(ctx, GdipScaleWorldTransform(g, size / 600, size / 600, MatrixOrderPrepend));
    keepStatus(ctx, GdipTranslateWorldTransform(g, -300, -300, MatrixOrderPrepend));

    if (const OwnedPen ring = makePen(ctx, colour, 31.8518f))
        keepStatus(ctx, GdipDrawEllipse(g, ring.get(), 15.9259f, 15.9259f, 568.1482f, 568.1482f));
    const OwnedBrush ownedBrush = makeBrush(ctx, colour);
    GpSolidFill* brush = ownedBrush.get();
    if (brush != nullptr)
        keepStatus(ctx, GdipFillEllipse(g, brush, 206.7878f, 206.7878f, 186.4244f, 186.4244f));
    const OwnedPen ownedSpokePen = makePen(ctx, colour, 38.881f);
    GpPen* spokePen = ownedSpokePen.get();

    for (int k = 0; k < 8; ++k) {
        GraphicsState inner = 0;
        keepStatus(ctx, GdipSaveGraphics(g, &inner));
        keepStatus(ctx, GdipTranslateWorldTransform(g, 300, 300, MatrixOrderPrepend));
        keepStatus(ctx, GdipRotateWorldTransform(g, 45.0f * k, MatrixOrderPrepend));
        keepStatus(ctx, GdipTranslateWorldTransform(g, -300, -300, MatrixOrderPrepend));
        if (const OwnedPath ownedTooth = makePath(ctx, FillModeAlternate)) {
            GpPath* tooth = ownedTooth.get();
            keepStatus(ctx,
                       GdipAddPathArc(tooth, 76.203f, 76.203f, 447.594f, 447.594f, -127.31629f, 29.632492f));
            keepStatus(ctx, GdipAddPathLine(tooth, 270.077f, 78.2125f, 270.077f, 48.1605f));
            keepStatus(ctx,
                       GdipAddPathArc(tooth, 46.389f, 46.389f, 507.222f, 507.222f, -96.775986f, -31.448105f));
            keepStatus(ctx, GdipClosePathFigure(tooth));
            if (brush != nullptr)
                keepStatus(ctx, GdipFillPath(g, brush, tooth));
        }
        if (spokePen != nullptr)
            keepStatus(ctx, GdipDrawLine(g, spokePen, 300, 300, 300, 487.968f));
        keepStatus(ctx, GdipRestoreGraphics(g, inner));
    }

    keepStatus(ctx, GdipRestoreGraphics(g, outer));
}

void drawSteamLogo(DrawContext& ctx, DesignRect rect) {
    if (!(rect.w > 0) || !(rect.h > 0))
        return;
    const float s = std::min(rect.w / kSteamW, rect.h / kSteamH);
    const float dx = rect.x + (rect.w - kSteamW * s) / 2 - kSteamX * s;
    const float dy = rect.y + (rect.h - kSteamH * s) / 2 - kSteamY * s;
    fillLogo(ctx, kSteamLogoPath, 77, s, dx, dy, kSteamFill, false);
}

void drawDiscordLogo(DrawContext& ctx, DesignRect rect) {
    if (!(rect.w > 0) || !(rect.h > 0))
        return;
    const float s = std::min(rect.w / kDiscordW, rect.h / kDiscordH);
    const float dx = rect.x + (rect.w - kDiscordW * s) / 2;
    const float dy = rect.y + (rect.h - kDiscordH * s) / 2;
    fillLogo(ctx, kDiscordLogoPath, 31, s, dx, dy, kDiscordFill, true);
}

HICON makeWindowIcon() {
    constexpr int kSize = 64;
    OwnedBitmap bitmap;
    if (GdipCreateBitmapFromScan0(kSize, kSize, 0, PixelFormat32bppARGB, nullptr, bitmap.out()) != Ok)
        return nullptr;
    {
        OwnedGraphics graphics;
        if (GdipGetImageGraphicsContext(bitmap.get(), graphics.out()) != Ok)
            return nullptr;
        DrawContext ctx;
        ctx.graphics = graphics.get();
        keepStatus(ctx, GdipGraphicsClear(ctx.graphics, 0x00000000));
        keepStatus(ctx, GdipSetSmoothingMode(ctx.graphics, SmoothingModeAntiAlias));
        fillRoundRect(ctx, {0, 0, kSize, kSize}, 14, kIconTile, 0);
        drawEmblem(ctx, 10, 10, 44, ThemeText, 0);
    }
    HBITMAP colourBits = nullptr;
    if (GdipCreateHBITMAPFromBitmap(bitmap.get(), &colourBits, 0) != Ok || colourBits == nullptr)
        return nullptr;
    const OwnedBitmapHandle colour(colourBits);
    // The colour bitmap carries alpha, so the AND mask stays all zero.
    static const BYTE kMaskBits[kSize * kSize / 8] = {};
    const OwnedBitmapHandle mask(CreateBitmap(kSize, kSize, 1, 1, kMaskBits));
    if (!mask)
        return nullptr;
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask.get();
    info.hbmColor = colour.get();
    return CreateIconIndirect(&info);
}

void strokeLine(DrawContext& ctx, DesignPoint from, DesignPoint to, ARGB colour, float width) {
    if (const OwnedPen pen = makePen(ctx, colour, width))
        keepStatus(ctx, GdipDrawLine(ctx.graphics, pen.get(), from.x, from.y, to.x, to.y));
}

void strokePolyline(DrawContext& ctx, const DesignPoint* points, int count, ARGB colour, float width) {
    if (points == nullptr || count < 2)
        return;
    const std::vector<GpPointF> line = toPoints(points, count);
    if (const OwnedPen pen = makePen(ctx, colour, width))
        keepStatus(ctx, GdipDrawLines(ctx.graphics, pen.get(), line.data(), count));
}

void fillPolygon(DrawContext& ctx, const DesignPoint* points, int count, ARGB colour) {
    if (points == nullptr || count < 3)
        return;
    const std::vector<GpPointF> polygon = toPoints(points, count);
    if (const OwnedBrush brush = makeBrush(ctx, colour))
        keepStatus(ctx, GdipFillPolygon(ctx.graphics, brush.get(), polygon.data(), count, FillModeAlternate));
}

void strokeRect(DrawContext& ctx, DesignRect rect, ARGB colour, float width, bool dashed) {
    if (const OwnedPen pen = makePen(ctx, colour, width)) {
        if (dashed)
            keepStatus(ctx, GdipSetPenDashStyle(pen.get(), DashStyleDash));
        keepStatus(ctx, GdipDrawRectangle(ctx.graphics, pen.get(), rect.x, rect.y, rect.w, rect.h));
    }
}
