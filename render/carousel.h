#pragma once
#include "scenes/scene_library.h"

#include <cstdint>

// Carousel timing on the library's own fields; plain functions of the tick count (ms).
inline constexpr uint64_t kSceneHoldMs = 7000;
inline constexpr uint64_t kSceneFadeMs = 900;
inline constexpr uint64_t kSceneDriftMs = 7900;
// A scene covers its rectangle zoomed in by base + range x drift easing.
inline constexpr float kSceneZoomBase = 1.015f;
inline constexpr float kSceneZoomRange = 0.012f;

// What pictures are kept of for windows of at most width x height pixels and at least the design
// canvas (or the screen, when smaller): every pixel drawn still comes from at least one picture
// pixel at the largest zoom, and nothing a window of those shapes could show is cut off.
SceneBound sceneBoundFor(int width, int height);

inline uint64_t elapsedMs(uint64_t later, uint64_t earlier) {
    return later > earlier ? later - earlier : 0;
}
float smootherstep(float p);

// Returns whether the scene changed. Steps during the first 900 ms of a fade are ignored.
bool stepScene(SceneLibrary& library, int direction, uint64_t now);
void jumpToScene(SceneLibrary& library, uint32_t index, uint64_t now);
void togglePause(SceneLibrary& library, uint64_t now);
void tickCarousel(SceneLibrary& library, uint64_t now);

// Minimising pauses the carousel; restoring returns to the player's own pause state.
struct MinimisePause {
    bool marked = false;
    bool wasPaused = false;
};
void carouselMinimised(SceneLibrary& library, MinimisePause& mark, bool minimised, uint64_t now);

// Shows scene i at once, without a fade (staging for the previews); nothing when i is not loaded.
void showSceneNow(SceneLibrary& library, uint32_t index, uint64_t now);

// Opacity of the incoming scene during a fade, 0..1.
float fadeOpacity(const SceneLibrary& library);
// Share of the hold time used so far, 0..1; 0 with fewer than two scenes.
float holdProgress(const SceneLibrary& library);
// Zoom-and-pan easing of a scene shown since shownAt, 0..1.
float driftEasing(const SceneLibrary& library, uint64_t shownAt);

const wchar_t* sceneCaption(const SceneLibrary& library);
