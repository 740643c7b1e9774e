#pragma once
// Frames drawn to pixels the way the window draws them, for the frame path's and the focus ring's tests.
#include "app/back_buffer.h"
#include "render/carousel.h"
#include "render/frame_renderer.h"
#include "render/preview.h"
#include "test_support.h"

#include <algorithm>
#include <cstdlib>

namespace testsupport {

// The window's own back buffer: a 32-bit top-down DIB in a memory context.
struct Canvas {
    BackBuffer buffer;
    HDC dc = nullptr;
    uint32_t* pixels = nullptr;
    int width, height;

    Canvas(int w, int h) : width(w), height(h) {
        HDC screen = GetDC(nullptr);
        if (ensureBackBuffer(buffer, screen, w, h)) {
            dc = buffer.dc;
            pixels = static_cast<uint32_t*>(buffer.pixels);
        }
        ReleaseDC(nullptr, screen);
    }
};

struct Difference {
    double mean;      // per channel, 0..255
    double worstTile; // largest mean over a 16 x 16 tile
};

inline Difference compare(const Canvas& a, const Canvas& b) {
    if (a.pixels == nullptr || b.pixels == nullptr)
        return {255, 255}; // no buffer to draw into: as different as can be
    double total = 0, worst = 0;
    for (int ty = 0; ty < a.height; ty += 16) {
        for (int tx = 0; tx < a.width; tx += 16) {
            double tile = 0;
            int count = 0;
            for (int y = ty; y < std::min(ty + 16, a.height); ++y) {
                for (int x = tx; x < std::min(tx + 16, a.width); ++x) {
                    const uint32_t p = a.pixels[y * a.width + x], q = b.pixels[y * b.width + x];
                    for (int shift = 0; shift < 24; shift += 8)
                        tile += std::abs(static_cast<int>((p >> shift) & 0xFF) -
                                         static_cast<int>((q >> shift) & 0xFF));
                    count += 3;
                }
            }
            total += tile;
            worst = std::max(worst, tile / count);
        }
    }
    return {total / (3.0 * a.width * a.height), worst};
}

struct Scenery {
    SceneLibrary scenes;
    UiState ui;
    LauncherConfig config{};
    LinkState link;
    uint64_t start = 0; // when scene 0 started showing; carousel time is made up from here
    float dpiFactor = 1.0f;

    Scenery() {
        loadScenes(scenes, unixPathFromEnv("ORVANE_STAGE").c_str(), nullptr);
        start = scenes.clock + 1000;
        showSceneNow(scenes, 1, start); // via another scene, so every anchor moves to start
        showSceneNow(scenes, 0, start);
        ui.emblemAngle = 33.0f;
        ui.linkingEnabled = true;
    }
    FrameInputs inputs() const { return {ui, link, config, scenes, dpiFactor}; }
};

// Saves `picture` as the first scene of a program folder (<folder>\assets), where a player's own goes.
inline bool saveAsFirstScene(const std::wstring& folder, Gdiplus::GpBitmap* picture) {
    CreateDirectoryW((folder + L"\\assets").c_str(), nullptr);
    CLSID jpeg{};
    return picture != nullptr && findEncoder(L"image/jpeg", jpeg) >= 0 &&
           Gdiplus::DllExports::GdipSaveImageToFile(picture, (folder + L"\\assets\\vexil-squad.jpg").c_str(),
                                                    &jpeg, nullptr) == Gdiplus::Ok;
}

} // namespace testsupport
