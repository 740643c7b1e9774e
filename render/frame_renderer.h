#pragma once
#include "render/home_screen.h"

#include <windows.h>

#include <cstdint>
#include <memory>

// How a window frame is produced. Reference draws every element with GDI+ each frame, exactly as
// the previews do; Fast keeps the picture layers, scrims and interface in caches and only redraws
// what changed since the last frame. Both show the same thing.
enum class FramePath { Reference, Fast };

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
};

struct FrameCaches; // the fast path's layers, private to the renderer

// A frame being kept up to date in a 32-bit top-down pixel buffer (the back buffer). All caches of
// the frame live here; a new size drops them all.
struct FrameRenderer {
    FramePath path = FramePath::Fast;
    std::unique_ptr<FrameCaches> caches;
    FrameRenderer();
    ~FrameRenderer();
};

// What renderFrame would redraw for these inputs: empty when nothing visible changed.
PixelRect pendingFrameChanges(const FrameRenderer& renderer, int width, int height, const FrameInputs& in);

// Brings `pixels` (width x height, selected into `dc`) up to date with `in` and returns the area that
// changed. The Reference path always redraws and returns the whole frame; so does a null `pixels`,
// drawing straight onto `dc`.
PixelRect renderFrame(FrameRenderer& renderer, HDC dc, uint32_t* pixels, int width, int height,
                      const FrameInputs& in);

// Forgets every cache (the next frame is drawn from scratch), keeping the chosen path.
void resetFrameRenderer(FrameRenderer& renderer);
