#include "render/carousel.h"

#include "render/geometry.h"

#include <algorithm>
#include <cmath>

namespace {

size_t sceneCount(const SceneLibrary& library) {
    return library.scenes.size();
}

void raiseClock(SceneLibrary& library, uint64_t now) {
    library.clock = std::max(now, library.clock);
}

bool fadeYoung(const SceneLibrary& library) {
    return library.fading && elapsedMs(library.clock, library.fadeStartedAt) < kSceneFadeMs;
}

void finishFade(SceneLibrary& library) {
    if (library.fading && elapsedMs(library.clock, library.fadeStartedAt) >= kSceneFadeMs) {
        library.fading = false;
        library.previous = library.current;
        library.previousShownAt = library.currentShownAt;
    }
}

// The shared tail of stepping and jumping: the new scene starts now, fading in only while running.
void changeTo(SceneLibrary& library, uint32_t target) {
    const uint64_t t = library.clock;
    library.previous = library.current;
    library.previousShownAt = library.currentShownAt;
    library.current = target;
    library.fadeStartedAt = library.lastAdvanceAt = library.currentShownAt = t;
    if (!library.paused) {
        library.fading = true;
    } else {
        library.fading = false;
        library.previous = target;
        library.previousShownAt = t;
    }
}

void shiftAnchors(SceneLibrary& library, uint64_t by) {
    library.currentShownAt += by;
    library.previousShownAt += by;
    library.lastAdvanceAt += by;
    library.fadeStartedAt += by;
}

} // namespace

float smootherstep(float p) {
    if (p <= 0.0f)
        return 0.0f;
    if (p >= 1.0f)
        return 1.0f;
    return std::clamp(p * p * p * (p * (6.0f * p - 15.0f) + 10.0f), 0.0f, 1.0f);
}

bool stepScene(SceneLibrary& library, int direction, uint64_t now) {
    const size_t n = sceneCount(library);
    if (direction == 0 || n < 2)
        return false;
    if (!library.paused) {
        raiseClock(library, now);
        if (fadeYoung(library))
            return false;
        finishFade(library);
    }
    const uint32_t target = static_cast<uint32_t>((library.current + (direction < 0 ? n - 1 : 1)) % n);
    if (library.paused && target == library.current) {
        library.fading = false;
        library.previous = library.current;
        return false;
    }
    changeTo(library, target);
    return true;
}

void jumpToScene(SceneLibrary& library, uint32_t index, uint64_t now) {
    if (index >= sceneCount(library))
        return;
    if (!library.paused) {
        raiseClock(library, now);
        if (fadeYoung(library))
            return;
        finishFade(library);
        if (index == library.current)
            return;
    } else if (index == library.current) {
        library.fading = false;
        library.previous = index;
        return;
    }
    changeTo(library, index);
}

void togglePause(SceneLibrary& library, uint64_t now) {
    if (!library.paused) {
        library.pausedAt = std::max(now, library.clock);
        library.clock = library.pausedAt;
        // A fade younger than 900 ms stays frozen half-way until the carousel runs again.
        finishFade(library);
        library.paused = true;
    } else {
        const uint64_t resumeAt = std::max(now, library.pausedAt);
        shiftAnchors(library, elapsedMs(resumeAt, library.pausedAt));
        library.paused = false;
        library.clock = resumeAt;
    }
}

void tickCarousel(SceneLibrary& library, uint64_t now) {
    if (library.paused)
        return;
    raiseClock(library, now);
    if (library.fading) {
        if (fadeYoung(library))
            return;
        finishFade(library);
    }
    if (sceneCount(library) >= 2 && elapsedMs(library.clock, library.lastAdvanceAt) >= kSceneHoldMs)
        stepScene(library, +1, library.clock);
}

void carouselMinimised(SceneLibrary& library, MinimisePause& mark, bool minimised, uint64_t now) {
    if (minimised && !mark.marked) {
        mark.marked = true;
        mark.wasPaused = library.paused;
        if (!library.paused)
            togglePause(library, now);
    } else if (!minimised && mark.marked) {
        if (!mark.wasPaused && library.paused)
            togglePause(library, now);
        mark = MinimisePause{};
    }
}

void showSceneNow(SceneLibrary& library, uint32_t index, uint64_t now) {
    // A scene that is not loaded would leave current pointing past the list.
    if (index >= sceneCount(library))
        return;
    if (!library.paused) {
        raiseClock(library, now);
        finishFade(library);
    }
    if (library.current != index) {
        library.current = library.previous = index;
        library.fading = false;
        library.fadeStartedAt = library.lastAdvanceAt = library.currentShownAt = library.previousShownAt =
            library.clock;
    } else {
        library.fading = false;
        library.previous = index;
    }
}

float fadeOpacity(const SceneLibrary& library) {
    const float p = static_cast<float>(elapsedMs(library.clock, library.fadeStartedAt)) / kSceneFadeMs;
    return smootherstep(p);
}

float holdProgress(const SceneLibrary& library) {
    if (sceneCount(library) < 2)
        return 0.0f;
    const float p = static_cast<float>(elapsedMs(library.clock, library.lastAdvanceAt)) / kSceneHoldMs;
    return std::min(p, 1.0f);
}

float driftEasing(const SceneLibrary& library, uint64_t shownAt) {
    const float t = std::min(static_cast<float>(elapsedMs(library.clock, shownAt)) / kSceneDriftMs, 1.0f);
    return smootherstep(t);
}

const wchar_t* sceneCaption(const SceneLibrary& library) {
    if (library.current >= sceneCount(library) || library.scenes[library.current] == nullptr)
        return L"FUERZA VEXIL";
    struct Caption {
        const wchar_t* name;
        const wchar_t* text;
    };
    static const Caption captions[] = {
        {L"vexil-squad.jpg", L"FUERZA VEXIL"},
        {L"orvane-scene.jpg", L"FUERZA VEXIL"},
        {L"galactic-battle.jpg", L"CONFLICTO GALÁCTICO"},
        {L"orvane-ground.jpg", L"POR LA ORVANE"},
    };
    const std::wstring& name = library.scenes[library.current]->name;
    if (name.empty())
        return L"FUERZA VEXIL";
    for (const Caption& c : captions)
        if (CompareStringOrdinal(name.c_str(), -1, c.name, -1, TRUE) == CSTR_EQUAL)
            return c.text;
    return L"TU ESCENARIO";
}

SceneBound sceneBoundFor(int width, int height) {
    const float zoom = kSceneZoomBase + kSceneZoomRange;
    const auto side = [zoom](int pixels) {
        return pixels > 0 ? static_cast<uint32_t>(std::ceil(static_cast<float>(pixels) * zoom)) + 1 : 0u;
    };
    if (width <= 0 || height <= 0)
        return {};
    const float narrowest = static_cast<float>(std::min(kDesignWidth, width)) / static_cast<float>(height);
    const float widest = static_cast<float>(width) / static_cast<float>(std::min(kDesignHeight, height));
    return {side(width), side(height), widest, narrowest};
}
