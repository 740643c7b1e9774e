// The cached frame path against the reference renderer: same pictures, and a frame only redrawn
// where something visibly changed.
#include "app/text.h"
#include "render/carousel.h"
#include "render/frame_renderer.h"
#include "render/preview.h"
#include "frame_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

Difference renderBoth(const Scenery& s, int width, int height) {
    Canvas reference(width, height), fast(width, height);
    FrameRenderer slow, quick;
    slow.path = FramePath::Reference;
    renderFrame(slow, reference.dc, reference.pixels, width, height, s.inputs());
    renderFrame(quick, fast.dc, fast.pixels, width, height, s.inputs());
    return compare(reference, fast);
}

void expectSameLook(Difference d, const std::string& what) {
    EXPECT_LE(d.mean, 1.0) << what;
    EXPECT_LE(d.worstTile, 8.0) << what;
    std::printf("%-28s mean %.3f  worst tile %.2f\n", what.c_str(), d.mean, d.worstTile);
}

} // namespace

TEST(FramePath, ScreensAndStatesLookTheSameAsTheReference) {
    Scenery s;
    ASSERT_EQ(s.scenes.scenes.size(), 3u);
    struct Case {
        const char* name;
        Screen screen;
        uint64_t at; // ms after the scene was shown
        HitTarget hover;
        HitTarget focus; // shown with the focus ring when not None
    };
    const Case cases[] = {
        {"home, start of hold", Home, 0, None, None},
        {"home, mid zoom", Home, 3000, None, None},
        {"home, late zoom", Home, 6500, TabNews, None},
        {"news, hovered tab", News, 2000, TabCommunity, None},
        {"community, focus ring", Community, 1000, None, PlayButton},
        {"linking", Linking, 4000, None, LinkSteamButton},
        {"fade 25%", Home, 7000 + 225, None, None},
        {"fade 50%", Home, 7000 + 450, None, None},
        {"fade 75%", Linking, 7000 + 675, None, None},
    };
    for (const Case& c : cases) {
        Scenery run;
        run.ui.screen = c.screen;
        run.ui.hover = c.hover;
        run.ui.focus = c.focus == None ? LinkSteamButton : c.focus;
        run.ui.focusVisible = c.focus != None;
        tickCarousel(run.scenes, run.start + c.at);
        ASSERT_EQ(run.scenes.fading, c.at > 7000) << c.name;
        for (auto [w, h] : {std::pair{1420, 890}, std::pair{960, 640}})
            expectSameLook(renderBoth(run, w, h), std::string(c.name) + " " + std::to_string(w));
    }
}

TEST(FramePath, LinkingCardStatesLookTheSameAsTheReference) {
    struct Case {
        const char* name;
        bool configLoaded, steamLinked, discordLinked, ready, busy, linkPending;
        const wchar_t* message;
        const wchar_t* statusText; // the window's own status line
        bool statusIsError, awaitingBrowser;
        HitTarget hover;
    };
    const Case cases[] = {
        {"busy", false, false, false, false, true, false, L"", L"", false, false, None},
        {"steam live, hovered", true, false, false, false, false, false, L"", L"", false, false,
         LinkSteamButton},
        {"awaiting the browser", true, false, false, false, false, false, L"",
         L"Preparando la pantalla oficial de autorización…", false, true, None},
        {"pending", true, false, false, false, false, true, L"", L"Completa la autorización en tu navegador.",
         false, false, None},
        {"service error, retry hovered", true, false, false, false, false, false,
         L"No se pudo conectar con el servicio de la comunidad. Pulsa Reintentar.", L"", false, false,
         RetryButton},
        {"local error", true, false, false, false, false, false, L"",
         L"La vinculación no pudo empezar. Pulsa Reintentar y vuelve a intentarlo.", true, false, None},
        {"steam linked with its name", true, true, false, false, false, false, L"", L"", false, false, None},
        {"ready", true, true, true, true, false, false, L"", L"", false, false, None},
    };
    Scenery warm;
    warm.ui.screen = Linking;
    Canvas canvas(1420, 890);
    FrameRenderer renderer;
    renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, warm.inputs());
    for (const Case& c : cases) {
        LinkState link;
        link.configLoaded = c.configLoaded;
        link.discordEnabled = c.configLoaded;
        link.steamLinked = c.steamLinked;
        link.discordLinked = c.discordLinked;
        link.ready = c.ready;
        link.busy = c.busy;
        link.linkPending = c.linkPending;
        link.message = c.message;
        if (c.steamLinked)
            link.steamName = L"Jugador Ñandú";
        if (c.discordLinked)
            link.discordName = L"jugador#0001";
        warm.link = link;
        warm.ui.hover = c.hover;
        warm.ui.statusIsError = c.statusIsError;
        warm.ui.awaitingBrowser = c.awaitingBrowser;
        copyText(warm.ui.statusText, c.statusText);
        // From scratch, at both sizes.
        for (auto [w, h] : {std::pair{1420, 890}, std::pair{960, 640}})
            expectSameLook(renderBoth(warm, w, h), std::string(c.name) + " " + std::to_string(w));
        // And as the window gets it: a new snapshot over the frame before, redrawn from warm caches.
        EXPECT_FALSE(pendingFrameChanges(renderer, 1420, 890, warm.inputs()).empty()) << c.name;
        renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, warm.inputs());
        Canvas reference(1420, 890);
        FrameRenderer slow;
        slow.path = FramePath::Reference;
        renderFrame(slow, reference.dc, reference.pixels, 1420, 890, warm.inputs());
        expectSameLook(compare(reference, canvas), std::string(c.name) + " after the one before");
        EXPECT_TRUE(pendingFrameChanges(renderer, 1420, 890, warm.inputs()).empty()) << c.name;
    }
}

TEST(FramePath, NoScenesShowsTheBackdropColourUnderTheInterface) {
    Scenery s;
    destroySceneLibrary(s.scenes);
    ASSERT_TRUE(s.scenes.scenes.empty());
    expectSameLook(renderBoth(s, 1420, 890), "no scenes");
}

TEST(FramePath, RedrawsOnlyWhatChanged) {
    Scenery s;
    s.ui.screen = Home;
    Canvas canvas(1420, 890);
    FrameRenderer renderer;
    const auto render = [&] {
        return renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs());
    };
    const auto pending = [&] { return pendingFrameChanges(renderer, 1420, 890, s.inputs()); };

    PixelRect first = render();
    EXPECT_EQ(first.right - first.left, 1420);
    EXPECT_TRUE(pending().empty()) << "nothing moved";
    EXPECT_TRUE(render().empty());

    // One tick later: the zoom moved far less than a pixel and the emblem less than a visible turn.
    tickCarousel(s.scenes, s.start + 16);
    s.ui.emblemAngle += 0.064f;
    EXPECT_TRUE(pending().empty());

    // The emblem turns a visible step: only its corner is redrawn.
    s.ui.emblemAngle += 1.0f;
    const PixelRect emblem = pending();
    EXPECT_FALSE(emblem.empty());
    EXPECT_LT(emblem.right, 200);
    EXPECT_LT(emblem.bottom, 200);
    const PixelRect drawn = render();
    EXPECT_EQ(drawn.left, emblem.left);
    EXPECT_EQ(drawn.bottom, emblem.bottom);

    // A hover changes the interface: the whole frame.
    s.ui.hover = TabNews;
    const PixelRect hovered = pending();
    EXPECT_EQ(hovered.right - hovered.left, 1420);
    render();

    // Seconds into the hold the picture has drifted visibly: the whole frame again, and it still
    // matches the reference drawn for that moment.
    tickCarousel(s.scenes, s.start + 3000);
    EXPECT_EQ(pending().bottom, 890);
    render();
    Canvas reference(1420, 890);
    FrameRenderer slow;
    slow.path = FramePath::Reference;
    renderFrame(slow, reference.dc, reference.pixels, 1420, 890, s.inputs());
    expectSameLook(compare(reference, canvas), "warm frame after drift");
}

// On a 200 % screen the window draws at twice the scale; a move to another screen's DPI at the same
// size makes the caches useless.
TEST(FramePath, AtTwiceTheDpiAndAfterTheDpiChangesItLooksTheSameAsTheReference) {
    Scenery s;
    s.ui.screen = Linking;
    s.dpiFactor = 2.0f;
    expectSameLook(renderBoth(s, 2840, 1780), "linking at 200 %");

    s.ui.screen = Home;
    s.dpiFactor = 1.0f;
    Canvas canvas(1920, 1280), reference(1920, 1280);
    FrameRenderer renderer, slow;
    slow.path = FramePath::Reference;
    renderFrame(renderer, canvas.dc, canvas.pixels, 1920, 1280, s.inputs());
    EXPECT_TRUE(pendingFrameChanges(renderer, 1920, 1280, s.inputs()).empty());
    s.dpiFactor = 2.0f;
    const PixelRect pending = pendingFrameChanges(renderer, 1920, 1280, s.inputs());
    EXPECT_EQ(pending.right - pending.left, 1920);
    EXPECT_EQ(pending.bottom - pending.top, 1280);
    renderFrame(renderer, canvas.dc, canvas.pixels, 1920, 1280, s.inputs());
    renderFrame(slow, reference.dc, reference.pixels, 1920, 1280, s.inputs());
    expectSameLook(compare(reference, canvas), "home after a move to 200 %");
}

TEST(FramePath, SceneChangeRedrawsOnlyTheSceneStatusAndKeepsWhatSurroundsIt) {
    // The focus ring and hover wash of the previous-scene button sit right beside the counter that a
    // scene change redraws in place.
    Scenery s;
    s.ui.screen = Home;
    s.ui.hover = PreviousSceneButton;
    s.ui.focus = PreviousSceneButton;
    s.ui.focusVisible = true;
    Canvas canvas(1420, 890), reference(1420, 890);
    FrameRenderer renderer, slow;
    slow.path = FramePath::Reference;
    for (uint64_t at : {6900, 7450, 8200}) {
        tickCarousel(s.scenes, s.start + at);
        renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs());
        renderFrame(slow, reference.dc, reference.pixels, 1420, 890, s.inputs());
        expectSameLook(compare(reference, canvas), "warm, " + std::to_string(at) + " ms");
    }
    EXPECT_EQ(s.scenes.current, 1u);
}

namespace {

// The staged picture stretched to width x height into <folder>\assets, as a player's oversized one.
bool writeEnlargedPicture(const std::wstring& folder, int width, int height) {
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    GpImage* source = nullptr;
    const std::wstring from = unixPathFromEnv("ORVANE_STAGE") + L"\\assets\\vexil-squad.jpg";
    if (GdipLoadImageFromFile(from.c_str(), &source) != Ok)
        return false;
    GpBitmap* large = nullptr;
    GpGraphics* graphics = nullptr;
    bool ok = GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &large) == Ok &&
              GdipGetImageGraphicsContext(large, &graphics) == Ok &&
              GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic) == Ok &&
              GdipDrawImageRectI(graphics, source, 0, 0, width, height) == Ok;
    if (graphics != nullptr)
        GdipDeleteGraphics(graphics);
    ok = ok && saveAsFirstScene(folder, large);
    if (large != nullptr)
        GdipDisposeImage(large);
    GdipDisposeImage(source);
    return ok;
}

void expectKeptLooksWhole(SceneLibrary& whole, SceneLibrary& kept, const std::string& picture) {
    UiState ui;
    ui.screen = Home;
    LauncherConfig config{};
    LinkState link;
    for (uint64_t at : {0, 3000, 7800}) {
        tickCarousel(whole, whole.currentShownAt + at);
        tickCarousel(kept, kept.currentShownAt + at);
        for (auto [w, h] : {std::pair{1420, 890}, std::pair{960, 640}}) {
            const std::string what = picture + ", " + std::to_string(w) + " at " + std::to_string(at) + " ms";
            for (FramePath path : {FramePath::Reference, FramePath::Fast}) {
                Canvas fromWhole(w, h), fromKept(w, h);
                FrameRenderer wholeRenderer, keptRenderer;
                wholeRenderer.path = keptRenderer.path = path;
                renderFrame(wholeRenderer, fromWhole.dc, fromWhole.pixels, w, h, {ui, link, config, whole});
                renderFrame(keptRenderer, fromKept.dc, fromKept.pixels, w, h, {ui, link, config, kept});
                // Wine's GDI+ samples the whole picture bilinearly (one pixel in four here), the
                // kept copy is area-averaged: the reference path's tiles differ a little more.
                const bool fast = path == FramePath::Fast;
                const Difference d = compare(fromWhole, fromKept);
                EXPECT_LE(d.mean, 1.0) << what;
                EXPECT_LE(d.worstTile, fast ? 8.0 : 10.0) << what;
                std::printf("kept copy, %-9s %-30s mean %.3f  worst tile %.2f\n", fast ? "fast" : "reference",
                            what.c_str(), d.mean, d.worstTile);
            }
        }
    }
}

} // namespace

// A picture far larger than the screen is kept only as large as the window can show it, and the
// frames drawn from that copy look as they do drawn from the whole picture.
TEST(FramePath, PicturesKeptAtTheScreensBoundLookTheSameAsWhole) {
    // 16:9 is only scaled; 4.5:1 also loses the sides no window shape shows.
    for (auto [pictureWidth, pictureHeight] : {std::pair{5760, 3240}, std::pair{9000, 2000}}) {
        TempFolder folder;
        ASSERT_TRUE(writeEnlargedPicture(folder.path, pictureWidth, pictureHeight));
        SceneLibrary whole, kept;
        kept.bound = sceneBoundFor(1420, 890);
        ASSERT_TRUE(loadScenes(whole, folder.path.c_str(), nullptr));
        ASSERT_TRUE(loadScenes(kept, folder.path.c_str(), nullptr));
        ASSERT_EQ(kept.scenes.size(), 1u);
        const SceneKeep keep = sceneKeep(pictureWidth, pictureHeight, kept.bound);
        EXPECT_EQ(whole.scenes[0]->width, static_cast<uint32_t>(pictureWidth));
        EXPECT_EQ(kept.scenes[0]->width, keep.keptWidth);
        EXPECT_EQ(kept.scenes[0]->height, keep.keptHeight);
        EXPECT_EQ(keep.keptHeight, kept.bound.height);
        expectKeptLooksWhole(whole, kept, std::to_string(pictureWidth) + "x" + std::to_string(pictureHeight));
    }
}

// Each moving part changed over a warm frame: what the fast path redraws in place must end up as the
// reference frame drawn for the new state, so its idea of where the part is matches the drawing's.
TEST(FramePath, EachMovingPartRedrawnInPlaceLooksLikeTheReference) {
    struct Case {
        const char* name;
        void (*change)(Scenery&);
    };
    const Case cases[] = {
        {"emblem step", [](Scenery& s) { s.ui.emblemAngle += 7.0f; }},
        {"progress step", [](Scenery& s) { tickCarousel(s.scenes, s.start + 1100); }},
        {"scene change", [](Scenery& s) { stepScene(s.scenes, 1, s.start + 1000); }},
        {"hover", [](Scenery& s) { s.ui.hover = NextSceneButton; }},
        {"focus",
         [](Scenery& s) {
             s.ui.focus = PauseButton;
             s.ui.focusVisible = true;
         }},
    };
    for (const Case& c : cases) {
        Scenery s;
        s.ui.screen = Home;
        tickCarousel(s.scenes, s.start + 1000);
        Canvas canvas(1420, 890), reference(1420, 890);
        FrameRenderer renderer, slow;
        slow.path = FramePath::Reference;
        renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs());
        c.change(s);
        EXPECT_FALSE(renderFrame(renderer, canvas.dc, canvas.pixels, 1420, 890, s.inputs()).empty())
            << c.name;
        renderFrame(slow, reference.dc, reference.pixels, 1420, 890, s.inputs());
        expectSameLook(compare(reference, canvas), std::string(c.name) + " over a warm frame");
    }
}
