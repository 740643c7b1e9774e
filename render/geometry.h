#pragma once

// Plain geometry in design units, shared by drawing and hit testing (no window or GDI+ types;
// named apart from GDI+'s own RectF and PointF).
struct DesignRect {
    float x, y, w, h;
};

struct DesignPoint {
    float x, y;
};

inline constexpr int kDesignWidth = 960;
inline constexpr int kDesignHeight = 640;

// The 960 x 640 design canvas mapped onto a window: never scaled above the screen's DPI factor (1 at
// 96 DPI), the canvas grows instead.
struct UiScale {
    float scale;
    int width;
    int height;
};
// Only the window passes its screen's factor; off-screen images keep 1, so they never depend on the
// screen of the machine drawing them. The factor is bounded first (boundedDpiFactor).
UiScale computeUiScale(int pixelWidth, int pixelHeight, float dpiFactor = 1.0f);

// A screen's dots per inch as a factor of 96 (100 %).
inline constexpr int kBaseDpi = 96;
float dpiFactorFor(int dpi);
// Factors are kept to what Windows offers, 100 % to 500 %: below 1 counts as 1, above 5 as 5, and
// anything not a number as 1.
float boundedDpiFactor(float factor);
// A length in physical pixels at 96 DPI, on a screen of that factor (rounded to the nearest pixel).
int dpiPixels(int pixels, float dpiFactor);

inline bool containsPoint(const DesignRect& r, float x, float y) {
    return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h;
}
