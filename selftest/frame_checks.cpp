// The back buffer the window paints into, and one whole frame painted into one.
#include "selftest/checks.h"

#include "app/back_buffer.h"
#include "app/owned.h"
#include "render/frame_renderer.h"

#include <windows.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr ARGB kProbeColour = 0xFF070D16;
constexpr COLORREF kProbePixel = RGB(0x07, 0x0D, 0x16);

// Clears the buffer through GDI+ and reads one pixel back through GDI.
bool clearsThroughGdiplus(const BackBuffer& buffer) {
    {
        OwnedGraphics graphics;
        if (GdipCreateFromHDC(buffer.dc, graphics.out()) != Ok)
            return false;
        GdipGraphicsClear(graphics.get(), kProbeColour);
        GdipFlush(graphics.get(), FlushIntentionSync);
    }
    return GetPixel(buffer.dc, 20, 20) == kProbePixel;
}

} // namespace

void checkBackBuffer(SelfTestTally& tally) {
    BackBuffer local;
    check(tally, ensureBackBuffer(local, nullptr, 320, 200));
    const uint32_t made = local.recreations;
    bool reused = true;
    for (int i = 0; i < 120; ++i)
        reused = ensureBackBuffer(local, nullptr, 320, 200) && reused;
    check(tally, reused && local.recreations == made);
    if (local.dc != nullptr)
        check(tally, clearsThroughGdiplus(local));
    check(tally, ensureBackBuffer(local, nullptr, 640, 360) && local.recreations == made + 1);
    releaseBackBuffer(local);
}

// The whole frame at the window's usual size, painted the way the window paints it: through the
// frame renderer into a back buffer.
void checkFinalFrame(SelfTestTally& tally, const FrameInputs& in) {
    BackBuffer frame;
    FrameRenderer renderer;
    const bool made = ensureBackBuffer(frame, nullptr, 1420, 890);
    if (made)
        renderFrame(renderer, frame.dc, static_cast<uint32_t*>(frame.pixels), 1420, 890, in);
    releaseBackBuffer(frame);
    // Four checks, of which only these two can fail.
    check(tally, made, 2);
    check(tally, !in.scenes.scenes.empty(), 2);
}
