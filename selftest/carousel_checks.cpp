// The carousel's timing and the scene loader's fallback, on a library of their own
// (the program's library is never touched).
#include "selftest/checks.h"

#include "render/carousel.h"
#include "render/preview.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

namespace {

double fadeProgress(const SceneLibrary& library) {
    return std::min(static_cast<double>(elapsedMs(library.clock, library.fadeStartedAt)) / kSceneFadeMs, 1.0);
}

bool shows(const SceneLibrary& library, uint32_t scene, bool fading) {
    return library.current == scene && library.fading == fading;
}

// The playback fields, to tell whether an operation changed anything.
struct Playback {
    uint32_t current, previous;
    bool fading, paused;
    uint64_t clock, currentShownAt, previousShownAt, lastAdvanceAt, fadeStartedAt, pausedAt;
    bool operator==(const Playback&) const = default;
};

Playback playbackOf(const SceneLibrary& l) {
    return {l.current,        l.previous,        l.fading,        l.paused,        l.clock,
            l.currentShownAt, l.previousShownAt, l.lastAdvanceAt, l.fadeStartedAt, l.pausedAt};
}

bool currentNameIs(const SceneLibrary& library, const wchar_t* name) {
    return library.current < library.scenes.size() &&
           CompareStringOrdinal(library.scenes[library.current]->name.c_str(), -1, name, -1, TRUE) ==
               CSTR_EQUAL;
}

// Autoplay, the cross-fade and its end, steps ignored during a fade, wrapping both ways.
void checkAutoplayAndFade(SelfTestTally& tally, SceneLibrary& local, uint64_t t0) {
    showSceneNow(local, 1, t0);
    showSceneNow(local, 0, t0);
    const uint64_t f0 = carouselFingerprint(local);
    tickCarousel(local, t0 + 6999);
    check(tally, shows(local, 0, false));
    tickCarousel(local, t0 + 7000);
    check(tally, shows(local, 1, true));
    check(tally, fadeProgress(local) == 0.0);
    tickCarousel(local, t0 + 7450);
    check(tally, std::fabs(fadeProgress(local) - 0.5) < 0.001);
    const uint64_t f1 = carouselFingerprint(local);
    tickCarousel(local, t0 + 7900);
    const uint64_t f2 = carouselFingerprint(local);
    check(tally, f0 != f1 && f1 != f2 && f0 != f2);
    check(tally, !local.fading);

    check(tally, stepScene(local, -1, t0 + 8000) && local.current == 0);
    check(tally, !stepScene(local, +1, t0 + 8100) && local.current == 0);
    tickCarousel(local, t0 + 8900);
    const uint32_t before = local.current;
    showSceneNow(local, 2, t0 + 9000);
    check(tally, before != 2 && local.current == 2);
    check(tally, stepScene(local, +1, t0 + 9100) && local.current == 0);
}

// Pausing freezes everything; a step while paused shows at once; resuming shifts the anchors.
void checkPause(SelfTestTally& tally, SceneLibrary& local, uint64_t t0) {
    tickCarousel(local, t0 + 10000);
    togglePause(local, t0 + 10010);
    const float progress = holdProgress(local);
    const uint64_t p0 = carouselFingerprint(local);
    tickCarousel(local, t0 + 100000);
    check(tally, holdProgress(local) == progress);
    check(tally, carouselFingerprint(local) == p0);
    check(tally, stepScene(local, -1, t0 + 100020) && shows(local, 2, false));
    togglePause(local, t0 + 100030);
    tickCarousel(local, t0 + 107029);
    check(tally, local.current == 2);
    tickCarousel(local, t0 + 107030);
    check(tally, shows(local, 0, true));
}

} // namespace

void checkCarouselTiming(SelfTestTally& tally, const std::wstring& programFolder) {
    SceneLibrary local;
    check(tally, loadScenes(local, programFolder.c_str(), L"vexil-squad.jpg"));
    const uint64_t t0 = GetTickCount64();
    check(tally, local.scenes.size() == 3);
    checkAutoplayAndFade(tally, local, t0);
    checkPause(tally, local, t0);
    const Playback before = playbackOf(local);
    jumpToScene(local, 10, GetTickCount64());
    check(tally, playbackOf(local) == before);
}

void checkSceneLoading(SelfTestTally& tally, const std::wstring& programFolder) {
    SceneLibrary local;
    // Three conditions counted as three checks; the first unmet one fails and ends the test.
    check(tally,
          loadScenes(local, programFolder.c_str(), L"galactic-battle.jpg") && local.scenes.size() == 3 &&
              currentNameIs(local, L"galactic-battle.jpg"),
          3);
    check(tally, loadScenes(local, programFolder.c_str(), L"..\\outside.jpg") && local.scenes.size() == 3);

    const std::wstring noImages = selfTestPath(programFolder, kNoImagesFolderName);
    check(tally, loadScenes(local, noImages.c_str(), nullptr) && local.scenes.size() == 1 &&
                     local.scenes[0]->path == kEmbeddedScenePath);
    const Playback single = playbackOf(local);
    check(tally, !stepScene(local, +1, GetTickCount64()) && playbackOf(local) == single);

    emptySceneLibrary(local);
    tickCarousel(local, GetTickCount64());
    check(tally, local.scenes.empty());
    destroySceneLibrary(local);
}
