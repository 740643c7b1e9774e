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

// The 960 x 640 design canvas mapped onto a window: never scaled up, the canvas grows instead.
struct UiScale {
    float scale;
    int width;
    int height;
};
UiScale computeUiScale(int pixelWidth, int pixelHeight);

inline bool containsPoint(const DesignRect& r, float x, float y) {
    return x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h;
}
