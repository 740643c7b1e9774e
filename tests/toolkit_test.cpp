#include "render/toolkit.h"
#include "render/toolkit_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr wchar_t kMissingFamily[] = L"Orvane Missing Family 7Q";

struct Ink {
    int left, top, right, bottom; // inclusive pixel bounds; left > right when nothing is drawn
    bool empty() const { return left > right; }
};

// A transparent ARGB bitmap with a graphics object set up as the screen painter leaves it.
class Canvas {
  public:
    Canvas(int w, int h, float scale = 1.0f) : w_(w), h_(h) {
        EXPECT_EQ(GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppARGB, nullptr, &bitmap_), Ok);
        EXPECT_EQ(GdipGetImageGraphicsContext(bitmap_, &ctx.graphics), Ok);
        GdipGraphicsClear(ctx.graphics, 0);
        GdipSetSmoothingMode(ctx.graphics, SmoothingModeAntiAlias);
        if (scale != 1.0f)
            GdipScaleWorldTransform(ctx.graphics, scale, scale, MatrixOrderPrepend);
    }
    ~Canvas() {
        GdipDeleteGraphics(ctx.graphics);
        GdipDisposeImage(bitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // All pixels, row by row, as straight ARGB.
    std::vector<ARGB> pixels() const {
        GdipFlush(ctx.graphics, FlushIntentionSync);
        std::vector<ARGB> out(static_cast<size_t>(w_) * h_);
        Rect all(0, 0, w_, h_);
        BitmapData data{};
        if (GdipBitmapLockBits(bitmap_, &all, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok)
            return {};
        for (int y = 0; y < h_; ++y) {
            const ARGB* row =
                reinterpret_cast<const ARGB*>(static_cast<const BYTE*>(data.Scan0) + y * data.Stride);
            std::copy(row, row + w_, out.begin() + static_cast<ptrdiff_t>(y) * w_);
        }
        GdipBitmapUnlockBits(bitmap_, &data);
        return out;
    }
    ARGB at(int x, int y) const { return pixels()[static_cast<size_t>(y) * w_ + x]; }
    bool inked(int x, int y) const { return (at(x, y) >> 24) != 0; }

    Ink ink() const {
        Ink r{w_, h_, -1, -1};
        const std::vector<ARGB> p = pixels();
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (p[static_cast<size_t>(y) * w_ + x] >> 24) {
                    r.left = std::min(r.left, x);
                    r.right = std::max(r.right, x);
                    r.top = std::min(r.top, y);
                    r.bottom = std::max(r.bottom, y);
                }
        return r;
    }
    bool has(ARGB colour) const {
        const std::vector<ARGB> p = pixels();
        return std::find(p.begin(), p.end(), colour) != p.end();
    }

    DrawContext ctx;

  private:
    int w_, h_;
    GpBitmap* bitmap_ = nullptr;
};

} // namespace

TEST(RoundRect, RadiusIsClampedToHalfTheShorterSide) {
    // Drawn at 4x so the corner is wide enough to probe: design (5.5, 1.5) lies inside a radius-10
    // corner of the 40 x 20 rectangle but outside a radius-13 one.
    Canvas asked(160, 80, 4), half(160, 80, 4);
    fillRoundRect(asked.ctx, {0, 0, 40, 20}, 13, 0xFF336699, 0);
    fillRoundRect(half.ctx, {0, 0, 40, 20}, 10, 0xFF336699, 0);
    EXPECT_TRUE(asked.inked(22, 6));
    EXPECT_FALSE(asked.inked(1, 1)) << "corner stays rounded";
    EXPECT_EQ(asked.pixels(), half.pixels());
    EXPECT_EQ(asked.ctx.lastStatus, Ok);
}

TEST(RoundRect, BorderNeedsANonZeroAlpha) {
    // Source-copy compositing makes even a fully transparent pen visible: it would punch its
    // outline through the fill. Without a border the result matches a plain fill.
    const auto draw = [](ARGB border) {
        auto canvas = std::make_unique<Canvas>(60, 40);
        GdipSetCompositingMode(canvas->ctx.graphics, CompositingModeSourceCopy);
        fillRoundRect(canvas->ctx, {10, 10, 40, 20}, 4, 0xFF336699, border);
        return canvas;
    };
    const std::vector<ARGB> plain = draw(0)->pixels();
    struct Case {
        ARGB border;
        bool outlined;
    };
    for (const Case c :
         {Case{0x00FF0000, false}, Case{0x00FFFFFF, false}, Case{0x01FF0000, true}, Case{0xFFFF0000, true}})
        EXPECT_EQ(draw(c.border)->pixels() != plain, c.outlined) << std::hex << c.border;
}

TEST(EmptyRects, DrawNothing) {
    const DesignRect rects[] = {{5, 5, 0, 20}, {5, 5, 20, 0}, {5, 5, -10, 20}, {5, 5, 20, -10}, {5, 5, 0, 0}};
    const std::function<void(DrawContext&, DesignRect)> draws[] = {
        [](DrawContext& c, DesignRect r) { fillRoundRect(c, r, 4, 0xFFFFFFFF, 0xFFFFFFFF); },
        [](DrawContext& c, DesignRect r) { drawSteamLogo(c, r); },
        [](DrawContext& c, DesignRect r) { drawDiscordLogo(c, r); },
    };
    for (size_t d = 0; d < std::size(draws); ++d)
        for (const DesignRect& r : rects) {
            Canvas canvas(40, 40);
            draws[d](canvas.ctx, r);
            EXPECT_TRUE(canvas.ink().empty()) << "primitive " << d << " rect " << r.w << "x" << r.h;
        }
}

TEST(Glyph, OnlyArrowAndCloseAreDrawn) {
    for (int kind : {-1, 0, 4, 5, 6, 7, 30}) {
        Canvas canvas(40, 40);
        drawGlyph(canvas.ctx, kind, {8, 8, 24, 24}, 0xFFFFFFFF);
        const Ink ink = canvas.ink();
        if (kind == GlyphArrow || kind == GlyphClose) {
            ASSERT_FALSE(ink.empty()) << kind;
            // Both glyphs reach 5 units above and below the centre (20, 20).
            EXPECT_LE(ink.top, 16) << kind;
            EXPECT_GE(ink.bottom, 24) << kind;
        } else {
            EXPECT_TRUE(ink.empty()) << kind;
        }
    }
}

TEST(Emblem, SpokesFollowTheAngleAndPointDownAtZero) {
    // Size 300 maps the 600-unit model at 0.5; model radius 150 is past the hub and short of the
    // spoke ends, so a point there is inked only on a spoke.
    struct Case {
        float angle;
        bool spokeDown;
    };
    for (const Case c :
         {Case{0, true}, Case{22.5f, false}, Case{45, true}, Case{-22.5f, false}, Case{90, true}}) {
        Canvas canvas(300, 300);
        drawEmblem(canvas.ctx, 0, 0, 300, 0xFFFFFFFF, c.angle);
        EXPECT_EQ(canvas.inked(150, 150 + 75), c.spokeDown) << c.angle;
        // Halfway between two spokes, turned with the emblem, is always empty.
        const float a = (90 + 22.5f + c.angle) * 3.14159265f / 180;
        EXPECT_FALSE(canvas.inked(static_cast<int>(std::lround(150 + 75 * std::cos(a))),
                                  static_cast<int>(std::lround(150 + 75 * std::sin(a)))))
            << c.angle;
        EXPECT_TRUE(canvas.inked(150, 150)) << "hub";
        EXPECT_EQ(canvas.ctx.lastStatus, Ok);
    }
}

TEST(Emblem, StaysInsideItsSquareAtAnyAngle) {
    for (float angle : {0.0f, 13.0f, 45.0f, 77.5f, 200.0f}) {
        Canvas canvas(140, 140);
        drawEmblem(canvas.ctx, 20, 20, 100, 0xFFFFFFFF, angle);
        const Ink ink = canvas.ink();
        // Pixel centres sit on whole coordinates, so the closed square spans pixels 20..120.
        EXPECT_GE(ink.left, 20) << angle;
        EXPECT_GE(ink.top, 20) << angle;
        EXPECT_LE(ink.right, 120) << angle;
        EXPECT_LE(ink.bottom, 120) << angle;
        // The ring touches all four sides.
        EXPECT_LE(ink.left, 21) << angle;
        EXPECT_GE(ink.right, 119) << angle;
    }
}

TEST(Text, BodyFamilyDrawsBoldOnlyForOne) {
    const auto draw = [](int bold) {
        auto canvas = std::make_unique<Canvas>(200, 40);
        drawText(canvas->ctx, L"Jugar ahora", {0, 0, 200, 40}, 16, 0xFFFFFFFF, bold, AlignNear);
        EXPECT_EQ(canvas->ctx.lastStatus, Ok);
        return canvas;
    };
    const auto regular = draw(0);
    EXPECT_FALSE(regular->ink().empty());
    EXPECT_NE(draw(1)->pixels(), regular->pixels());
    EXPECT_EQ(draw(2)->pixels(), regular->pixels());
}

TEST(Text, MissingFamilyFallsBackToGenericSansSerif) {
    GpFontFamily* family = createFontFamily(kMissingFamily);
    ASSERT_NE(family, nullptr);
    EXPECT_EQ(GdipDeleteFontFamily(family), Ok);

    // The fallback keeps size, style and format: it matches the generic family asked for by name.
    const DesignRect rect{0, 0, 220, 40};
    Canvas fallback(220, 40), generic(220, 40);
    drawTextInFamily(fallback.ctx, kMissingFamily, L"Novedades", rect, 17, 0xFFFFFFFF, 1, AlignCenter);
    drawTextInFamily(generic.ctx, L"Microsoft Sans Serif", L"Novedades", rect, 17, 0xFFFFFFFF, 1,
                     AlignCenter);
    EXPECT_FALSE(fallback.ink().empty());
    EXPECT_EQ(fallback.pixels(), generic.pixels());

    Canvas title(220, 40);
    drawTitleInFamily(title.ctx, kMissingFamily, L"ORVANE", rect, 26, 0xFFFFFFFF);
    EXPECT_FALSE(title.ink().empty());
}

TEST(Text, LongTitleStaysOnOneLineWhileBodyWraps) {
    const wchar_t* text = L"ORVANE GAMING ORVANE GAMING ORVANE GAMING";
    const DesignRect rect{10, 10, 220, 100}; // room for two lines at size 30
    Canvas title(240, 120), body(240, 120);
    drawTitle(title.ctx, text, rect, 30, 0xFFFFFFFF);
    drawText(body.ctx, text, rect, 30, 0xFFFFFFFF, 1, AlignNear);
    const Ink t = title.ink(), b = body.ink();
    ASSERT_FALSE(t.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_LE(t.bottom - t.top + 1, 36) << "one line of 30-unit capitals";
    EXPECT_GT(b.bottom - b.top + 1, 36) << "wrapped body text";
    EXPECT_GE(t.right, 200) << "the cut line still fills the width";
    EXPECT_LT(t.right, 231);
}

// Text from outside (the service's news, status and error lines, account names) at its longest
// allowed length, in the sizes of the boxes that show it: cut with "…" and no ink outside the box,
// whatever the platform's GDI+ does about trimming and clipping.
TEST(Text, LongestOutsideTextsStayInsideTheirBoxes) {
    const auto repeatTo = [](const std::wstring& unit, size_t length) {
        std::wstring text;
        while (text.size() < length)
            text += unit;
        text.resize(length);
        return text;
    };
    const std::wstring title = repeatTo(L"Gran evento de verano en la Orvane: ", 159);
    const std::wstring body = repeatTo(L"Línea de noticias con acentos, ñ y más texto. ", 1199);
    const std::wstring status = repeatTo(L"La vinculación no pudo empezar. Pulsa Reintentar. ", 319);
    const std::wstring name = repeatTo(L"NombreDeCuentaMuyLargo", 200);
    struct Case {
        const char* box;
        const std::wstring& text;
        DesignRect rect;
        float size;
        int bold;
        bool title;
    };
    const Case cases[] = {
        {"home news card title", title, {20, 20, 268, 55}, 22, 1, false},
        {"home news card body", body, {20, 20, 268, 48}, 12, 0, false},
        {"news panel headline", title, {20, 20, 448, 60}, 21, 1, false},
        {"news panel body", body, {20, 20, 448, 72}, 15, 0, false},
        {"linking status line", status, {20, 20, 620, 27}, 11, 0, false},
        {"linking error line", status, {20, 20, 440, 29}, 10, 0, false},
        {"account name", name, {20, 20, 358, 28}, 11, 0, false},
        {"one-line title", title, {20, 20, 448, 52}, 30, 1, true},
    };
    for (const Case& c : cases) {
        const int w = static_cast<int>(c.rect.w) + 40, h = static_cast<int>(c.rect.h) + 40;
        Canvas canvas(w, h);
        if (c.title)
            drawTitle(canvas.ctx, c.text.c_str(), c.rect, c.size, 0xFFFFFFFF);
        else
            drawText(canvas.ctx, c.text.c_str(), c.rect, c.size, 0xFFFFFFFF, c.bold, AlignNear);
        EXPECT_EQ(canvas.ctx.lastStatus, Ok) << c.box;
        const Ink ink = canvas.ink();
        ASSERT_FALSE(ink.empty()) << c.box;
        EXPECT_GE(ink.left, 20) << c.box;
        EXPECT_GE(ink.top, 20) << c.box;
        EXPECT_LE(ink.right, 20 + static_cast<int>(c.rect.w)) << c.box;
        EXPECT_LE(ink.bottom, 20 + static_cast<int>(c.rect.h)) << c.box;

        const std::wstring shown = textAsDrawn(canvas.ctx, c.text.c_str(), c.rect, c.size, c.bold, c.title);
        ASSERT_GE(shown.size(), 6u) << c.box;
        EXPECT_EQ(shown.back(), L'\u2026') << c.box;
        EXPECT_EQ(c.text.compare(0, shown.size() - 1, shown, 0, shown.size() - 1), 0) << c.box;
    }

    // Text that fits is drawn as it stands.
    Canvas canvas(300, 100);
    EXPECT_EQ(textAsDrawn(canvas.ctx, L"Evento de verano", {0, 0, 268, 55}, 22, 1, false),
              L"Evento de verano");
    EXPECT_EQ(textAsDrawn(canvas.ctx, L"ORVANE", {0, 0, 258, 27}, 17, 1, true), L"ORVANE");
}

TEST(Logos, CentredInsideTheirRectWithTheirColour) {
    struct Case {
        const char* name;
        void (*draw)(DrawContext&, DesignRect);
        DesignRect rect;
        float modelW, modelH;
        ARGB colour;
    };
    const Case cases[] = {
        {"steam wide", drawSteamLogo, {10, 20, 160, 60}, 77.29f, 77.605f, 0xFFFFFFFF},
        {"steam tall", drawSteamLogo, {40, 4, 60, 112}, 77.29f, 77.605f, 0xFFFFFFFF},
        {"discord wide", drawDiscordLogo, {10, 20, 160, 60}, 65, 48, 0xFF5865F2},
        {"discord tall", drawDiscordLogo, {40, 4, 60, 112}, 65, 48, 0xFF5865F2},
    };
    for (const Case& c : cases) {
        Canvas canvas(180, 120);
        c.draw(canvas.ctx, c.rect);
        const Ink ink = canvas.ink();
        ASSERT_FALSE(ink.empty()) << c.name;
        const float s = std::min(c.rect.w / c.modelW, c.rect.h / c.modelH);
        const float cx = c.rect.x + c.rect.w / 2, cy = c.rect.y + c.rect.h / 2;
        EXPECT_GE(ink.left, c.rect.x - 1) << c.name;
        EXPECT_GE(ink.top, c.rect.y - 1) << c.name;
        EXPECT_LE(ink.right, c.rect.x + c.rect.w) << c.name;
        EXPECT_LE(ink.bottom, c.rect.y + c.rect.h) << c.name;
        EXPECT_NEAR((ink.left + ink.right) / 2.0f, cx, 1.5f) << c.name;
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0f, cy, 1.5f) << c.name;
        EXPECT_NEAR(ink.right - ink.left + 1, c.modelW * s, 2.0f) << c.name;
        EXPECT_NEAR(ink.bottom - ink.top + 1, c.modelH * s, 2.0f) << c.name;
        EXPECT_TRUE(canvas.has(c.colour)) << c.name;
        EXPECT_EQ(canvas.ctx.lastStatus, Ok) << c.name;
    }
}

TEST(Logos, OutlinesHaveTheirFiguresAndStayInTheirBoxes) {
    struct Case {
        const PathCommand* table;
        int count, figures;
        float x, y, w, h;
    };
    const Case cases[] = {{kSteamLogoPath, 77, 4, 133.424f, 451.673f, 77.29f, 77.605f},
                          {kDiscordLogoPath, 31, 3, 0, 0, 65, 48}};
    for (const Case& c : cases) {
        int moves = 0, closes = 0;
        for (int i = 0; i < c.count; ++i) {
            const PathCommand& p = c.table[i];
            moves += p.command == 'M';
            closes += p.command == 'Z';
            EXPECT_TRUE(p.command == 'M' || p.command == 'L' || p.command == 'C' || p.command == 'Z');
            EXPECT_EQ(p.command == 'M', i == 0 || c.table[i - 1].command == 'Z') << i;
            // Control points may bulge a little past the outline, never far out of the box.
            const float xs[] = {p.x1, p.x2, p.x3}, ys[] = {p.y1, p.y2, p.y3};
            const int used = p.command == 'C' ? 3 : (p.command == 'Z' ? 0 : 1);
            for (int k = 0; k < 3; ++k) {
                if (k >= used) {
                    EXPECT_EQ(xs[k], 0.0f) << i;
                    EXPECT_EQ(ys[k], 0.0f) << i;
                    continue;
                }
                EXPECT_GE(xs[k], c.x - 1) << i;
                EXPECT_LE(xs[k], c.x + c.w + 1) << i;
                EXPECT_GE(ys[k], c.y - 1) << i;
                EXPECT_LE(ys[k], c.y + c.h + 1) << i;
            }
        }
        EXPECT_EQ(moves, c.figures);
        EXPECT_EQ(closes, c.figures);
        EXPECT_EQ(c.table[c.count - 1].command, 'Z');
    }
}

TEST(StrokeRect, DashedOutlineHasGaps) {
    for (bool dashed : {false, true}) {
        Canvas canvas(60, 30);
        GdipSetSmoothingMode(canvas.ctx.graphics, SmoothingModeNone);
        strokeRect(canvas.ctx, {5, 10, 50, 10}, 0xFFFFFFFF, 1, dashed);
        int gaps = 0;
        for (int x = 6; x < 55; ++x)
            gaps += !canvas.inked(x, 10);
        EXPECT_EQ(gaps > 0, dashed);
    }
}

TEST(WindowIcon, SixtyFourSquareTileWithTheEmblem) {
    HICON icon = makeWindowIcon();
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    BITMAP colour{};
    ASSERT_NE(info.hbmColor, nullptr);
    ASSERT_TRUE(GetObjectW(info.hbmColor, sizeof colour, &colour));
    EXPECT_EQ(colour.bmWidth, 64);
    EXPECT_EQ(colour.bmHeight, 64);

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 64;
    bi.bmiHeader.biHeight = -64; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> px(64 * 64);
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, 64, px.data(), &bi, DIB_RGB_COLORS), 64);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(px[0] >> 24, 0u) << "rounded corner is transparent";
    EXPECT_EQ(px[32 * 64 + 32], static_cast<DWORD>(ThemeText)) << "hub of the emblem";
    EXPECT_EQ(px[3 * 64 + 32], 0xFF111E2Eu) << "tile above the ring";

    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

TEST(Failures, AreRecordedAndDrawingCarriesOn) {
    const std::function<void(DrawContext&)> draws[] = {
        [](DrawContext& c) {
            fillRoundRect(c, {0, 0, 10, 10}, 2, 0xFFFFFFFF, 0xFFFFFFFF);
        },
        [](DrawContext& c) {
            drawText(c, L"x", {0, 0, 10, 10}, 9, 0xFFFFFFFF, 0, AlignNear);
        },
        [](DrawContext& c) {
            drawTitle(c, L"x", {0, 0, 10, 10}, 9, 0xFFFFFFFF);
        },
        [](DrawContext& c) {
            drawGlyph(c, GlyphClose, {0, 0, 10, 10}, 0xFFFFFFFF);
        },
        [](DrawContext& c) { drawEmblem(c, 0, 0, 10, 0xFFFFFFFF, 0); },
        [](DrawContext& c) {
            drawSteamLogo(c, {0, 0, 10, 10});
        },
        [](DrawContext& c) {
            drawDiscordLogo(c, {0, 0, 10, 10});
        },
        [](DrawContext& c) {
            strokeLine(c, {0, 0}, {5, 5}, 0xFFFFFFFF, 1);
        },
        [](DrawContext& c) {
            const DesignPoint p[] = {{0, 0}, {5, 5}, {0, 5}};
            strokePolyline(c, p, 3, 0xFFFFFFFF, 1);
        },
        [](DrawContext& c) {
            const DesignPoint p[] = {{0, 0}, {5, 5}, {0, 5}};
            fillPolygon(c, p, 3, 0xFFFFFFFF);
        },
        [](DrawContext& c) {
            strokeRect(c, {0, 0, 5, 5}, 0xFFFFFFFF, 1, true);
        },
    };
    for (size_t i = 0; i < std::size(draws); ++i) {
        DrawContext broken; // no graphics: every drawing call fails
        draws[i](broken);
        EXPECT_NE(broken.lastStatus, Ok) << "primitive " << i;
    }
}
