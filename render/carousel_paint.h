#pragma once
#include "app/ui_state.h"
#include "render/pixel_layers.h"
#include "render/toolkit.h"
#include "scenes/scene_library.h"

// The window's moving background: the carousel picture under three readability scrims.
void drawBackdrop(DrawContext& ctx, int W, int H, const SceneLibrary& library);
void drawCarousel(DrawContext& ctx, DesignRect rect, const SceneLibrary& library);
// The part of the picture shown over rect at this moment of its zoom and drift.
SourceCrop sceneCrop(const Scene& scene, DesignRect rect, uint64_t shownAt, const SceneLibrary& library);
void drawScenePicture(DrawContext& ctx, const Scene& scene, DesignRect rect, uint64_t shownAt, float opacity,
                      const SceneLibrary& library);

// Position bars, progress, counter and the previous / pause / next buttons of the footer.
// The controls change at different rates (the progress fill every frame, the bars and counter with
// the scene, the buttons with hover and pause), so each group can be drawn on its own.
enum CarouselControlParts : unsigned {
    ControlButtons = 1,
    ControlBars = 2,
    ControlProgress = 4,
    ControlCounter = 8
};
void drawCarouselControls(DrawContext& ctx, int W, int H, const SceneLibrary& library, const UiState& ui,
                          unsigned parts);
