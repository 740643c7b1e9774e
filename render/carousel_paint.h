#pragma once
#include "app/ui_state.h"
#include "render/toolkit.h"
#include "scenes/scene_library.h"

// The window's moving background: the carousel picture under three readability scrims.
void drawBackdrop(DrawContext& ctx, int W, int H, const SceneLibrary& library);
void drawCarousel(DrawContext& ctx, DesignRect rect, const SceneLibrary& library);
void drawScenePicture(DrawContext& ctx, const Scene& scene, DesignRect rect, uint64_t shownAt, float opacity,
                      const SceneLibrary& library);

// Position bars, progress, counter and the previous / pause / next buttons of the footer.
void drawCarouselControls(DrawContext& ctx, int W, int H, const SceneLibrary& library, const UiState& ui);
