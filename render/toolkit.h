#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "render/geometry.h"
#include "render/theme.h"

#include <cstdint>

// Every primitive draws in design units through the caller's world transform, and records the
// status of a failing GDI+ call in lastStatus without stopping.
struct DrawContext {
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpStatus lastStatus = Gdiplus::Ok;
};

// Remembers a failed GDI+ call; drawing goes on either way.
inline void keepStatus(DrawContext& ctx, Gdiplus::GpStatus status) {
    if (status != Gdiplus::Ok)
        ctx.lastStatus = status;
}

enum TextAlign : int { AlignNear = 0, AlignCenter = 1, AlignFar = 2 };
enum GlyphKind : int { GlyphArrow = 5, GlyphClose = 6 };

void fillRoundRect(DrawContext& ctx, DesignRect rect, float radius, Gdiplus::ARGB fill, Gdiplus::ARGB border);
void drawText(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, Gdiplus::ARGB colour,
              int bold, int alignment);
void drawTitle(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, Gdiplus::ARGB colour);
void drawGlyph(DrawContext& ctx, int kind, DesignRect rect, Gdiplus::ARGB colour);
void drawEmblem(DrawContext& ctx, float x, float y, float size, Gdiplus::ARGB colour, float angle);
void drawSteamLogo(DrawContext& ctx, DesignRect rect);
void drawDiscordLogo(DrawContext& ctx, DesignRect rect);
HICON makeWindowIcon();

// Small stroke and fill helpers the screens share (solid pens and brushes, made per call).
void strokeLine(DrawContext& ctx, DesignPoint from, DesignPoint to, Gdiplus::ARGB colour, float width);
void strokePolyline(DrawContext& ctx, const DesignPoint* points, int count, Gdiplus::ARGB colour,
                    float width);
void fillPolygon(DrawContext& ctx, const DesignPoint* points, int count, Gdiplus::ARGB colour);
void strokeRect(DrawContext& ctx, DesignRect rect, Gdiplus::ARGB colour, float width, bool dashed);

// One record of a logo outline: 'M' move, 'L' line, 'C' cubic Bezier (two controls, end), 'Z' close.
struct PathCommand {
    char command;
    float x1, y1, x2, y2, x3, y3;
};
extern const PathCommand kSteamLogoPath[77];
extern const PathCommand kDiscordLogoPath[31];

// Font family used for a role: the named one when installed, else GDI+'s generic sans serif,
// else null (text is then not drawn). The caller deletes a non-null result.
Gdiplus::GpFontFamily* createFontFamily(const wchar_t* name);

// Text keeps the families it looked up; this lets them go (before GDI+ shuts down).
void releaseDrawingCaches();
