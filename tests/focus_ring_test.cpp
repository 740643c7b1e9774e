// The keyboard focus ring measured in the drawn pixels: wide, solid and in contrast with whatever lies
// under it at every scale, clear of the control's label, and never left behind by the fast frame path.
#include "app/window_logic.h"
#include "render/hit_geometry.h"
#include "frame_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace testsupport;

namespace {

// WCAG relative luminance of a 0x00RRGGBB pixel.
double luminance(uint32_t pixel) {
    double sum = 0;
    const double weights[] = {0.0722, 0.7152, 0.2126}; // blue, green, red
    for (int k = 0; k < 3; ++k) {
        const double c = ((pixel >> (8 * k)) & 0xFF) / 255.0;
        sum += weights[k] * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
    return sum;
}

double contrast(double a, double b) {
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// What the ring looks like across its sides, worst case over every scanline.
struct RingMeasure {
    int scanlines = 0;
    int gaps = 0;             // scanlines that cross no ring pixel, or a ring with a hole in it
    int thinnestLight = 1000; // opaque light pixels across the ring
    double worstContrast = 1000;
    int insideControl = 0; // ring pixels on the control itself
};

// Light and dark lines: opaque near-white and near-black, not a blend with what is under them.
constexpr double kLightLine = 0.7, kDarkLine = 0.03;

void measureScanline(const Canvas& plain, const Canvas& ringed, int x, int y, int dx, int dy, int reach,
                     RingMeasure& m) {
    const auto at = [&](const Canvas& c, int d) { return c.pixels[(y + d * dy) * c.width + (x + d * dx)]; };
    int first = -1, last = -1;
    for (int d = 0; d < reach; ++d) {
        if (at(plain, d) != at(ringed, d)) {
            first = first < 0 ? d : first;
            last = d;
        }
    }
    ++m.scanlines;
    if (first < 0) {
        ++m.gaps;
        return;
    }
    int light = 0;
    double lightest = 0, darkest = 1;
    for (int d = first; d <= last; ++d) {
        if (at(plain, d) == at(ringed, d))
            ++m.gaps;
        const double l = luminance(at(ringed, d));
        light += l >= kLightLine;
        lightest = l >= kLightLine ? std::max(lightest, l) : lightest;
        darkest = l <= kDarkLine ? std::min(darkest, l) : darkest;
    }
    // Just outside the ring: what the player sees beside it.
    const double outside = luminance(at(ringed, last + 1));
    const double best = std::max(light > 0 ? contrast(lightest, outside) : 1.0,
                                 darkest <= kDarkLine ? contrast(darkest, outside) : 1.0);
    m.thinnestLight = std::min(m.thinnestLight, light);
    m.worstContrast = std::min(m.worstContrast, best);
}

// Scans outward from every side of the control (its middle 80 %, clear of the corners).
RingMeasure measureRing(const Canvas& plain, const Canvas& ringed, DesignRect control, float s) {
    RingMeasure m;
    const int left = static_cast<int>(std::floor(control.x * s)),
              top = static_cast<int>(std::floor(control.y * s));
    const int right = static_cast<int>(std::ceil((control.x + control.w) * s)) - 1;
    const int bottom = static_cast<int>(std::ceil((control.y + control.h) * s)) - 1;
    const int reach = static_cast<int>(std::ceil(12 * s)) + 6;
    const int insetX = (right - left) / 10, insetY = (bottom - top) / 10;
    for (int x = left + insetX; x <= right - insetX; ++x) {
        measureScanline(plain, ringed, x, top, 0, -1, reach, m);
        measureScanline(plain, ringed, x, bottom, 0, 1, reach, m);
    }
    for (int y = top + insetY; y <= bottom - insetY; ++y) {
        measureScanline(plain, ringed, left, y, -1, 0, reach, m);
        measureScanline(plain, ringed, right, y, 1, 0, reach, m);
    }
    for (int y = top + 1; y < bottom; ++y)
        for (int x = left + 1; x < right; ++x)
            m.insideControl += plain.pixels[y * plain.width + x] != ringed.pixels[y * ringed.width + x];
    return m;
}

struct Size {
    int width, height;
    float dpiFactor;
};
// The canvas at 1, shrunk below 1 for a small work area, and doubled on a 200 % screen.
const Size kSizes[] = {{1420, 890, 1.0f}, {720, 480, 1.0f}, {2840, 1780, 2.0f}};

void drawReference(const Scenery& s, Canvas& canvas) {
    FrameRenderer renderer;
    renderer.path = FramePath::Reference;
    renderFrame(renderer, canvas.dc, canvas.pixels, canvas.width, canvas.height, s.inputs());
}

void expectVisibleRing(Scenery& s, Screen screen, HitTarget control, const std::string& name) {
    s.ui.screen = screen;
    s.ui.focus = control;
    for (const Size& size : kSizes) {
        s.dpiFactor = size.dpiFactor;
        const UiScale ui = computeUiScale(size.width, size.height, size.dpiFactor);
        Canvas plain(size.width, size.height), ringed(size.width, size.height);
        ASSERT_NE(plain.pixels, nullptr);
        s.ui.focusVisible = false;
        drawReference(s, plain);
        s.ui.focusVisible = true;
        drawReference(s, ringed);
        const RingMeasure m = measureRing(plain, ringed, hitRect(control, ui.width, ui.height), ui.scale);
        const std::string what =
            name + " at " + std::to_string(size.width) + "x" + std::to_string(size.height);
        EXPECT_GT(m.scanlines, 40) << what;
        EXPECT_EQ(m.gaps, 0) << what;
        EXPECT_GE(m.thinnestLight, 2) << what;
        EXPECT_GE(m.worstContrast, 3.0) << what;
        EXPECT_EQ(m.insideControl, 0) << what;
        std::printf("%-34s scale %.3f  light %d px  gaps %d  worst contrast %.2f:1\n", what.c_str(), ui.scale,
                    m.thinnestLight, m.gaps, m.worstContrast);
    }
}

// A white picture, so the ring also lies over light and mid-grey ground where the scrims thin out.
bool writeWhitePicture(const std::wstring& folder) {
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    GpBitmap* bitmap = nullptr;
    GpGraphics* graphics = nullptr;
    bool ok = GdipCreateBitmapFromScan0(960, 640, 0, PixelFormat24bppRGB, nullptr, &bitmap) == Ok &&
              GdipGetImageGraphicsContext(bitmap, &graphics) == Ok &&
              GdipGraphicsClear(graphics, 0xFFFFFFFF) == Ok;
    if (graphics != nullptr)
        GdipDeleteGraphics(graphics);
    ok = ok && saveAsFirstScene(folder, bitmap);
    if (bitmap != nullptr)
        GdipDisposeImage(bitmap);
    return ok;
}

// The fast path's frame against one it draws from scratch for the same moment: pixels that differ.
int pixelsUnlikeAFreshFrame(const Canvas& warm, const Scenery& s) {
    Canvas fresh(warm.width, warm.height);
    FrameRenderer renderer;
    renderFrame(renderer, fresh.dc, fresh.pixels, fresh.width, fresh.height, s.inputs());
    int differ = 0;
    for (int i = 0; i < warm.width * warm.height; ++i)
        differ += warm.pixels[i] != fresh.pixels[i];
    return differ;
}

} // namespace

TEST(FocusRing, IsWideSolidAndInContrastOnEveryGroundAndScale) {
    Scenery s;
    expectVisibleRing(s, Home, TabNews, "tab over the picture");
    expectVisibleRing(s, Home, PlayButton, "Jugar");
    expectVisibleRing(s, Home, PauseButton, "carousel pause");
    expectVisibleRing(s, Linking, LinkSteamButton, "VINCULAR (Steam)");

    TempFolder folder;
    ASSERT_TRUE(writeWhitePicture(folder.path));
    destroySceneLibrary(s.scenes);
    ASSERT_TRUE(loadScenes(s.scenes, folder.path.c_str(), nullptr));
    expectVisibleRing(s, Home, AccountsButton, "accounts over a white picture");
    expectVisibleRing(s, Home, TabCommunity, "tab over a white picture");
}

TEST(FocusRing, TabThroughTheFastPathLeavesNothingOfTheOldRing) {
    for (const Size& size : {kSizes[0], kSizes[1]}) {
        Scenery s;
        s.ui.screen = Home;
        s.dpiFactor = size.dpiFactor;
        Canvas canvas(size.width, size.height);
        FrameRenderer renderer;
        renderFrame(renderer, canvas.dc, canvas.pixels, size.width, size.height, s.inputs());
        // Around the whole ring, back to the first tab.
        for (int press = 0; press < 9; ++press) {
            const HitTarget from = s.ui.focus;
            applyKey(s.ui, hitConditionsFor(s.ui, s.scenes.scenes.size(), s.link), VK_TAB, false, false,
                     false);
            ASSERT_NE(s.ui.focus, from);
            const PixelRect pending = pendingFrameChanges(renderer, size.width, size.height, s.inputs());
            EXPECT_FALSE(pending.empty()) << press;
            renderFrame(renderer, canvas.dc, canvas.pixels, size.width, size.height, s.inputs());
            EXPECT_EQ(pixelsUnlikeAFreshFrame(canvas, s), 0)
                << "Tab " << press << " at " << size.width << ", focus " << s.ui.focus;
        }
    }
}

// A ring around a scene dot crosses the position bars a new scene redraws in place.
TEST(FocusRing, ASceneChangeKeepsARingThatReachesIntoTheSceneStatus) {
    for (HitTarget control : {SceneDot0, SceneDot2, PreviousSceneButton}) {
        Scenery s;
        s.ui.screen = Home;
        s.ui.focus = control;
        s.ui.focusVisible = true;
        Canvas canvas(1420, 890);
        FrameRenderer renderer;
        // The same moment for both, so the warm frame's picture is not one drifted a little earlier.
        tickCarousel(s.scenes, s.start + 6900);
        renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs());
        ASSERT_TRUE(stepScene(s.scenes, 1, s.start + 6900));
        renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs());
        EXPECT_EQ(pixelsUnlikeAFreshFrame(canvas, s), 0) << "focus " << control;
    }
}
