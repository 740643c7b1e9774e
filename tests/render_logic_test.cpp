#include "render/carousel.h"
#include "render/hit_geometry.h"
#include "render/text_symbols.h"
#include "render/screen_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Timing needs only the count of scenes, so empty slots stand in for pictures.
void fillWith(SceneLibrary& library, size_t count, uint64_t at) {
    library.scenes.clear();
    library.scenes.resize(count);
    library.clock = library.currentShownAt = library.previousShownAt = library.lastAdvanceAt = at;
}

DesignPoint centreOf(DesignRect r) {
    return {r.x + r.w / 2, r.y + r.h / 2};
}

const HitTarget kAllTargets[] = {
    TabHome,        TabNews,        TabCommunity,        PlayButton,      CommunityButton,   MinimizeButton,
    MaximizeButton, CloseButton,    PreviousSceneButton, PauseButton,     NextSceneButton,   SceneDot0,
    SceneDot1,      SceneDot2,      SceneDot3,           LinkSteamButton, LinkDiscordButton, ContinueButton,
    RetryButton,    AccountsButton, SignOutButton};

} // namespace

TEST(UiScaleTable, NeverScalesUpAndGrowsTheCanvas) {
    struct Case {
        int w, h;
        float scale;
        int cw, ch;
    };
    const Case cases[] = {
        {960, 640, 1.0f, 960, 640},
        {1200, 640, 1.0f, 1200, 640},
        {0, 640, 1.0f, 0, 640},
        {480, 320, 0.5f, 960, 640},
        {1000, 500, 0.78125f, 1280, 640},
        {1920, 1080, 1.0f, 1920, 1080},
        {800, 540, 800.0f / 960.0f, 960, 648},
        {1420, 890, 1.0f, 1420, 890},
    };
    for (const Case& c : cases) {
        const UiScale ui = computeUiScale(c.w, c.h);
        EXPECT_FLOAT_EQ(ui.scale, c.scale) << c.w << "x" << c.h;
        EXPECT_EQ(ui.width, c.cw) << c.w << "x" << c.h;
        EXPECT_EQ(ui.height, c.ch) << c.w << "x" << c.h;
    }
}

TEST(UiScaleTable, TheScreensDpiFactorIsTheCap) {
    struct Case {
        int w, h;
        float factor;
        float scale;
        int cw, ch;
    };
    const Case cases[] = {
        {2840, 1780, 2.0f, 2.0f, 1420, 890},     // the window at 200 %: the 96 DPI layout, doubled
        {2130, 1335, 1.5f, 1.5f, 1420, 890},     // ... and at 150 %
        {1920, 1280, 2.0f, 2.0f, 960, 640},      // the minimum size at 200 %
        {3840, 2160, 1.5f, 1.5f, 2560, 1440},    // maximised on a 4K screen at 150 %: the canvas grows
        {1420, 890, 2.0f, 1.390625f, 1022, 640}, // smaller than the factor allows: fits the height
        {1200, 800, 2.0f, 1.25f, 960, 640},      //
        {2560, 1600, 1.25f, 1.25f, 2048, 1280},  //
        {0, 640, 2.0f, 2.0f, 0, 320},            // ratio 0 is not positive: the cap
        {1920, 1080, 1.0f, 1.0f, 1920, 1080},    // 96 DPI: as ever
        {1920, 1080, 0.5f, 1.0f, 1920, 1080},    // below 100 % counts as 100 %
        {1920, 1080, NAN, 1.0f, 1920, 1080},     // not a number counts as 100 %
        {9600, 6400, 8.0f, 5.0f, 1920, 1280},    // above 500 % counts as 500 %
    };
    for (const Case& c : cases) {
        const UiScale ui = computeUiScale(c.w, c.h, c.factor);
        EXPECT_FLOAT_EQ(ui.scale, c.scale) << c.w << "x" << c.h << " at " << c.factor;
        EXPECT_EQ(ui.width, c.cw) << c.w << "x" << c.h << " at " << c.factor;
        EXPECT_EQ(ui.height, c.ch) << c.w << "x" << c.h << " at " << c.factor;
    }
}

TEST(UiScaleTable, DpiFactorsAndScaledPixels) {
    struct Case {
        int dpi;
        float factor;
    };
    const Case cases[] = {{96, 1.0f}, {120, 1.25f}, {144, 1.5f}, {192, 2.0f}, {480, 5.0f},
                          {72, 1.0f}, {0, 1.0f},    {-96, 1.0f}, {960, 5.0f}, {168, 1.75f}};
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(dpiFactorFor(c.dpi), c.factor) << c.dpi;

    struct Length {
        int pixels;
        float factor;
        int scaled;
    };
    const Length lengths[] = {{1420, 1.0f, 1420}, {1420, 2.0f, 2840}, {890, 1.25f, 1113}, {41, 1.5f, 62},
                              {6, 1.75f, 11},     {126, 0.0f, 126},   {40, 6.0f, 200}};
    for (const Length& l : lengths)
        EXPECT_EQ(dpiPixels(l.pixels, l.factor), l.scaled) << l.pixels << " at " << l.factor;
}

TEST(HitGeometry, PointsOnTheDesignCanvas) {
    const HitConditions home{Home, 3, true, false}, linking{Linking, 3, true, false};
    const HitConditions oneScene{Home, 1, true, false}, noScenes{Home, 0, true, false};
    const HitConditions noLinking{Home, 3, false, false}, signOut{Linking, 3, true, true};
    struct Case {
        const char* what;
        float x, y; // client pixels on a 960 x 640 window unless size given
        int w, h;
        HitConditions when;
        HitTarget expected;
    };
    const Case cases[] = {
        {"last unit of Inicio", 423.5f, 70, 960, 640, home, TabHome},
        {"tab gap starts at W/2-56", 424, 70, 960, 640, home, None},
        {"tab gap last unit", 427.9f, 70, 960, 640, home, None},
        {"Novedades from W/2-52", 428, 70, 960, 640, home, TabNews},
        {"Play on home", 100, 640 - 150, 960, 640, home, PlayButton},
        {"Play hidden on linking", 100, 640 - 150, 960, 640, linking, None},
        {"news card community button hidden on linking", 960 - 100, 640 - 140, 960, 640, linking, None},
        {"tabs still live on linking", 600, 70, 960, 640, linking, TabCommunity},
        {"carousel next needs two scenes", 960 - 194 + 84 + 19, 640 - 46, 960, 640, oneScene, None},
        {"first position bar with one scene", 960 - 372 + 14, 640 - 46, 960, 640, oneScene, SceneDot0},
        {"second position bar with one scene", 960 - 342 + 14, 640 - 46, 960, 640, oneScene, None},
        {"no bars without scenes", 960 - 372 + 14, 640 - 46, 960, 640, noScenes, None},
        {"accounts button needs linking", 960 - 200, 70, 960, 640, noLinking, None},
        {"accounts button", 960 - 200, 70, 960, 640, home, AccountsButton},
        {"close button", 959, 0, 960, 640, home, CloseButton},
        {"sign-out on the card's eyebrow line", 704, 141, 960, 640, signOut, SignOutButton},
        {"sign-out's first unit", 618, 128, 960, 640, signOut, SignOutButton},
        {"left of sign-out", 617.9f, 141, 960, 640, signOut, None},
        {"sign-out hidden while nothing is linked", 704, 141, 960, 640, linking, None},
        {"right edge is outside", 960, 10, 960, 640, home, None},
        {"scaled Play at 800x540", 145.8f, 421.7f, 800, 540, home, PlayButton},
        {"scaled Play at 920x540", 147.7f, 420.2f, 920, 540, home, PlayButton},
        {"half-size window, same layout", 50, 245, 480, 320, home, PlayButton},
        {"1400 wide: tab row starts at 544", 544, 70, 1400, 640, home, TabHome},
        {"1400 wide: 543 is left of the tabs", 543.9f, 70, 1400, 640, home, None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hitTest(c.x, c.y, c.w, c.h, c.when), c.expected) << c.what;
}

TEST(HitGeometry, EveryControlIsFoundAtItsOwnCentreOnEverySize) {
    for (int w = 960; w <= 1920; w += 80)
        for (int h = 640; h <= 1080; h += 55)
            for (Screen screen : {Home, Linking}) {
                const HitConditions when{screen, 4, true, true};
                const UiScale ui = computeUiScale(w, h);
                for (HitTarget target : kAllTargets) {
                    if (!isHitTestable(target, when))
                        continue;
                    const DesignPoint c = centreOf(hitRect(target, ui.width, ui.height));
                    EXPECT_EQ(hitTest(c.x * ui.scale, c.y * ui.scale, w, h, when), target)
                        << "target " << target << " at " << w << "x" << h << " screen " << screen;
                }
            }
}

// On a high-DPI screen the window is drawn at its factor; clicks must land where the controls are drawn.
TEST(HitGeometry, EveryControlIsFoundAtItsCentreAtEveryDpiFactor) {
    struct Client {
        int w, h; // at 96 DPI, times the factor
    };
    const Client clients[] = {{1420, 890}, {960, 640}, {1920, 1080}, {800, 540}, {1366, 728}};
    for (float factor : {1.0f, 1.5f, 2.0f})
        for (const Client& client : clients)
            for (Screen screen : {Home, Linking}) {
                const int w = dpiPixels(client.w, factor), h = dpiPixels(client.h, factor);
                const HitConditions when{screen, 4, true, true};
                const UiScale ui = computeUiScale(w, h, factor);
                for (HitTarget target : kAllTargets) {
                    if (!isHitTestable(target, when))
                        continue;
                    const DesignPoint c = centreOf(hitRect(target, ui.width, ui.height));
                    EXPECT_EQ(hitTest(c.x * ui.scale, c.y * ui.scale, w, h, when, factor), target)
                        << "target " << target << " at " << w << "x" << h << " factor " << factor;
                }
            }
}

TEST(HitGeometry, RectanglesOfTheLinkingCardFollowItsOrigin) {
    const DesignPoint o = linkingCardOrigin(1920, 1080);
    EXPECT_FLOAT_EQ(o.x, 610);
    EXPECT_FLOAT_EQ(o.y, 328);
    const DesignRect discord = hitRect(LinkDiscordButton, 960, 640);
    EXPECT_FLOAT_EQ(discord.x, 130 + 476);
    EXPECT_FLOAT_EQ(discord.y, 108 + 159 + 98);
    const DesignRect none = hitRect(None, 960, 640);
    EXPECT_EQ(none.w + none.h + none.x + none.y, 0.0f);
}

// The bars sit inside their clickable dots, the progress within its bar, and the span a scene change
// redraws covers every bar, on any canvas.
TEST(HitGeometry, SceneBarsLieInsideTheirDotsOnEverySize) {
    const auto inside = [](DesignRect in, DesignRect r) {
        return r.x >= in.x && r.y >= in.y && r.x + r.w <= in.x + in.w && r.y + r.h <= in.y + in.h;
    };
    for (auto [W, H] : {std::pair{960, 640}, std::pair{1420, 890}, std::pair{1920, 1080}}) {
        for (size_t i = 0; i < kMaxSceneBars; ++i) {
            const DesignRect bar = sceneBarRect(i, W, H);
            EXPECT_TRUE(inside(hitRect(static_cast<HitTarget>(SceneDot0 + i), W, H), bar))
                << W << " bar " << i;
            EXPECT_TRUE(inside(sceneBarsRect(kMaxSceneBars, W, H), bar)) << W << " bar " << i;
            EXPECT_TRUE(inside(bar, progressRect(i, 0.5f, W, H))) << W << " bar " << i;
            EXPECT_FLOAT_EQ(progressRect(i, 0.5f, W, H).w, bar.w / 2);
        }
        const DesignRect beyond = sceneBarRect(kMaxSceneBars, W, H);
        EXPECT_EQ(beyond.w * beyond.h, 0.0f) << "there are only four bars";
        EXPECT_EQ(sceneBarsRect(0, W, H).w, 0.0f);
        EXPECT_TRUE(inside(sceneCounterRect(W, H), sceneCounterInkRect(W, H))) << W;
    }
}

TEST(Carousel, TimingSequence) {
    enum Op { Tick, Step, Jump, Pause };
    struct Row {
        const char* what;
        Op op;
        int arg;
        uint64_t now;
        uint32_t current, previous;
        bool fading, paused;
    };
    // Three scenes loaded at t = 1000.
    const Row rows[] = {
        {"held for just under 7 s", Tick, 0, 7999, 0, 0, false, false},
        {"autoplay at exactly 7000 ms", Tick, 0, 8000, 1, 0, true, false},
        {"a step 500 ms into the fade is ignored", Step, +1, 8500, 1, 0, true, false},
        {"a jump during the fade is ignored too", Jump, 2, 8600, 1, 0, true, false},
        {"fade still running at 899 ms", Tick, 0, 8899, 1, 0, true, false},
        {"fade ends at exactly 900 ms", Tick, 0, 8900, 1, 1, false, false},
        {"a step after the fade is taken", Step, +1, 8900, 2, 1, true, false},
        {"ticks going backwards change nothing", Tick, 0, 5000, 2, 1, true, false},
        {"next wraps to the first scene", Step, +1, 9800, 0, 2, true, false},
        {"previous wraps to the last scene", Step, -1, 10700, 2, 0, true, false},
        {"pause 300 ms into a fade freezes it", Pause, 0, 11000, 2, 0, true, true},
        {"ticks while paused change nothing", Tick, 0, 15000, 2, 0, true, true},
        {"resume 10 s later", Pause, 0, 21000, 2, 0, true, false},
        {"fade not done 599 ms after resuming", Tick, 0, 21599, 2, 0, true, false},
        {"fade done 600 ms after resuming", Tick, 0, 21600, 2, 2, false, false},
        {"no autoplay before 7000 ms plus the pause", Tick, 0, 27699, 2, 2, false, false},
        {"autoplay 7000 ms after the change plus the pause", Tick, 0, 27700, 0, 2, true, false},
        {"pause after the fade", Pause, 0, 28700, 0, 0, false, true},
        {"stepping while paused shows the scene at once", Step, +1, 29000, 1, 1, false, true},
        {"jumping while paused too", Jump, 2, 29100, 2, 2, false, true},
        {"jumping to the current scene changes nothing", Jump, 2, 29200, 2, 2, false, true},
        {"resume", Pause, 0, 30000, 2, 2, false, false},
    };
    SceneLibrary library;
    fillWith(library, 3, 1000);
    for (const Row& r : rows) {
        switch (r.op) {
        case Tick:
            tickCarousel(library, r.now);
            break;
        case Step:
            stepScene(library, r.arg, r.now);
            break;
        case Jump:
            jumpToScene(library, static_cast<uint32_t>(r.arg), r.now);
            break;
        case Pause:
            togglePause(library, r.now);
            break;
        }
        EXPECT_EQ(library.current, r.current) << r.what;
        EXPECT_EQ(library.previous, r.previous) << r.what;
        EXPECT_EQ(library.fading, r.fading) << r.what;
        EXPECT_EQ(library.paused, r.paused) << r.what;
    }
    EXPECT_EQ(library.clock, 30000u);
}

TEST(Carousel, PauseFreezesProgressFadeAndZoomAndResumeShiftsEveryAnchor) {
    SceneLibrary library;
    fillWith(library, 3, 1000);
    tickCarousel(library, 8000);
    tickCarousel(library, 8450); // half-way through the fade
    const float opacity = fadeOpacity(library), progress = holdProgress(library);
    const float drift = driftEasing(library, library.currentShownAt);
    EXPECT_NEAR(opacity, 0.5f, 1e-4f);

    togglePause(library, 8450);
    tickCarousel(library, 60000);
    EXPECT_FLOAT_EQ(fadeOpacity(library), opacity);
    EXPECT_FLOAT_EQ(holdProgress(library), progress);
    EXPECT_FLOAT_EQ(driftEasing(library, library.currentShownAt), drift);

    const uint64_t anchors[] = {library.currentShownAt, library.previousShownAt, library.lastAdvanceAt,
                                library.fadeStartedAt};
    togglePause(library, 18450);
    const uint64_t shifted[] = {library.currentShownAt, library.previousShownAt, library.lastAdvanceAt,
                                library.fadeStartedAt};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(shifted[i], anchors[i] + 10000) << i;
    EXPECT_FLOAT_EQ(fadeOpacity(library), opacity);
}

TEST(Carousel, OneSceneNeverMovesAndShowsNoProgress) {
    SceneLibrary library;
    fillWith(library, 1, 1000);
    tickCarousel(library, 100000);
    EXPECT_FALSE(stepScene(library, +1, 100000));
    EXPECT_EQ(library.current, 0u);
    EXPECT_FALSE(library.fading);
    EXPECT_EQ(holdProgress(library), 0.0f);
    EXPECT_EQ(driftEasing(library, library.currentShownAt), 1.0f); // the zoom settles at its end
}

TEST(Carousel, ShowingASceneNowNeedsItToBeLoaded) {
    struct Case {
        size_t count;
        uint32_t index;
        uint32_t shown;
    };
    const Case cases[] = {{0, 0, 0}, {1, 1, 0}, {3, 3, 0}, {3, 10, 0}, {3, 2, 2}};
    for (const Case& c : cases) {
        SceneLibrary library;
        fillWith(library, c.count, 1000);
        showSceneNow(library, c.index, 2000);
        EXPECT_EQ(library.current, c.shown) << c.count << " scenes, index " << c.index;
        EXPECT_EQ(library.previous, c.shown) << c.count << " scenes, index " << c.index;
        EXPECT_FALSE(library.fading);
    }
}

TEST(Carousel, MinimisingRestoresThePlayersOwnPauseState) {
    SceneLibrary library;
    MinimisePause mark;
    fillWith(library, 3, 1000);
    carouselMinimised(library, mark, true, 2000);
    EXPECT_TRUE(library.paused);
    carouselMinimised(library, mark, true, 3000); // a second minimise message changes nothing
    carouselMinimised(library, mark, false, 62000);
    EXPECT_FALSE(library.paused);
    EXPECT_EQ(library.lastAdvanceAt, 61000u); // a minute away does not count toward the hold time
    tickCarousel(library, 67999);
    EXPECT_EQ(library.current, 0u);

    togglePause(library, 68000);
    carouselMinimised(library, mark, true, 69000);
    carouselMinimised(library, mark, false, 90000);
    EXPECT_TRUE(library.paused);
    EXPECT_EQ(library.pausedAt, 68000u);
}

TEST(Carousel, Captions) {
    struct Case {
        const wchar_t* name;
        const wchar_t* caption;
    };
    const Case cases[] = {
        {L"vexil-squad.jpg", L"FUERZA VEXIL"},
        {L"ORVANE-SCENE.JPG", L"FUERZA VEXIL"},
        {L"galactic-battle.jpg", L"CONFLICTO GALÁCTICO"},
        {L"Orvane-Ground.jpg", L"POR LA ORVANE"},
        {L"fondo.png", L"TU ESCENARIO"},
    };
    for (const Case& c : cases) {
        SceneLibrary library;
        library.scenes.push_back(std::make_unique<Scene>());
        library.scenes.back()->name = c.name;
        EXPECT_STREQ(sceneCaption(library), c.caption) << c.name;
    }
    SceneLibrary empty;
    EXPECT_STREQ(sceneCaption(empty), L"FUERZA VEXIL");
}

TEST(ScreenTexts, FooterLine) {
    UiState ui;
    EXPECT_STREQ(footerLine(ui, false), L"POR LA ORVANE.   /   QUORLANE ROLEPLAY   ·   1.0.1");
    std::wcscpy(ui.playStatusText, L"Steam no está disponible");
    EXPECT_STREQ(footerLine(ui, false), L"Steam no está disponible");
    ui.hover = PauseButton;
    EXPECT_STREQ(footerLine(ui, false), L"Pausar carrusel  ·  P");
    EXPECT_STREQ(footerLine(ui, true), L"Reanudar carrusel  ·  P");
    ui.hover = PreviousSceneButton;
    EXPECT_STREQ(footerLine(ui, false), L"Imagen anterior  ·  Flecha izquierda");
    ui.hover = NextSceneButton;
    EXPECT_STREQ(footerLine(ui, false), L"Imagen siguiente  ·  Flecha derecha");
}

TEST(ScreenTexts, LinkingCard) {
    const std::wstring base =
        L"Pulsa Vincular y acepta en Steam y Discord. La vinculación se detectará sola.";
    const std::wstring official = L"Se abrirá la pantalla oficial para que aceptes";
    struct Case {
        const char* what;
        LinkState link;
        const wchar_t* statusText;
        bool statusIsError, awaitingBrowser;
        HitTarget hover;
        // expected
        std::wstring steamDetail, discordDetail;
        bool steamLive, discordLive;
        Argb steamFill;
        bool hasError;
        std::wstring line; // error or status line
        const wchar_t* continueLabel;
    };
    auto state = [](auto change) {
        LinkState s;
        change(s);
        return s;
    };
    auto configured = [](LinkState& s) {
        s.configLoaded = true;
        s.discordEnabled = true;
    };
    const Case cases[] = {
        {"default snapshot", LinkState{}, L"", false, false, None, official,
         L"Vincula primero tu cuenta de Steam", false, false, 0xC8283647, false, base,
         L"COMPLETA LA VINCULACIÓN"},
        {"busy with a message shows the error", state([](LinkState& s) {
             s.busy = true;
             s.message = L"No se pudo conectar";
         }),
         L"", false, false, None, official, L"Vincula primero tu cuenta de Steam", false, false, 0xC8283647,
         true, L"No se pudo conectar", L"COMPLETA LA VINCULACIÓN"},
        {"busy", state([](LinkState& s) { s.busy = true; }), L"", false, false, None, official,
         L"Vincula primero tu cuenta de Steam", false, false, 0xC8283647, false,
         L"Conectando con OrvaneGaming…", L"COMPLETA LA VINCULACIÓN"},
        {"Steam live and hovered", state(configured), L"", false, false, LinkSteamButton, official,
         L"Vincula primero tu cuenta de Steam", true, false, 0xFFF65C4D, false, base,
         L"COMPLETA LA VINCULACIÓN"},
        {"Steam live, not hovered", state(configured), L"", false, false, None, official,
         L"Vincula primero tu cuenta de Steam", true, false, 0xFFE84B3D, false, base,
         L"COMPLETA LA VINCULACIÓN"},
        {"awaiting the browser greys the buttons and shows the local line", state(configured),
         L"Preparando la pantalla oficial de autorización…", false, true, LinkSteamButton, official,
         L"Vincula primero tu cuenta de Steam", false, false, 0xC8283647, false,
         L"Preparando la pantalla oficial de autorización…", L"COMPLETA LA VINCULACIÓN"},
        {"local error, even when empty", state(configured), L"", true, false, None, official,
         L"Vincula primero tu cuenta de Steam", true, false, 0xFFE84B3D, true, L"",
         L"COMPLETA LA VINCULACIÓN"},
        {"pending link", state([&](LinkState& s) {
             configured(s);
             s.linkPending = true;
         }),
         L"old text", false, false, None, official, L"Vincula primero tu cuenta de Steam", true, false,
         0xFFE84B3D, false, L"Completa la autorización en tu navegador. Se comprobará automáticamente.",
         L"COMPLETA LA VINCULACIÓN"},
        {"Steam linked without a name, Discord not configured", state([](LinkState& s) {
             s.configLoaded = true;
             s.steamLinked = true;
         }),
         L"", false, false, None, L"", L"Pendiente de configurar por administración", false, false,
         0x642C5F5A, false, base, L"COMPLETA LA VINCULACIÓN"},
        {"Steam linked, Discord live", state([&](LinkState& s) {
             configured(s);
             s.steamLinked = true;
             s.steamName = L"Kael";
         }),
         L"", false, false, None, L"Kael", official, false, true, 0x642C5F5A, false, base,
         L"COMPLETA LA VINCULACIÓN"},
        {"Steam linked but no configuration: never 'Pendiente'",
         state([](LinkState& s) { s.steamLinked = true; }), L"", false, false, None, L"", official, false,
         false, 0x642C5F5A, false, base, L"COMPLETA LA VINCULACIÓN"},
        {"ready", state([&](LinkState& s) {
             configured(s);
             s.steamLinked = s.discordLinked = s.ready = true;
             s.steamName = L"Kael";
             s.discordName = L"kael#1";
         }),
         L"stale", false, false, None, L"Kael", L"kael#1", false, false, 0x642C5F5A, false,
         L"Todo listo. Tu escuadrón te espera.", L"CONTINUAR  →"},
    };
    for (const Case& c : cases) {
        UiState ui;
        std::wcscpy(ui.statusText, c.statusText);
        ui.statusIsError = c.statusIsError;
        ui.awaitingBrowser = c.awaitingBrowser;
        ui.hover = c.hover;
        const LinkingCardView view = linkingCardView(c.link, ui);
        EXPECT_EQ(view.rows[0].detail, c.steamDetail) << c.what;
        EXPECT_EQ(view.rows[1].detail, c.discordDetail) << c.what;
        EXPECT_EQ(view.rows[0].live, c.steamLive) << c.what;
        EXPECT_EQ(view.rows[1].live, c.discordLive) << c.what;
        EXPECT_EQ(view.rows[0].buttonFill, c.steamFill) << c.what;
        EXPECT_EQ(view.hasError, c.hasError) << c.what;
        EXPECT_EQ(c.hasError ? view.errorText : view.statusLine, c.line) << c.what;
        EXPECT_STREQ(view.continueLabel, c.continueLabel) << c.what;
        EXPECT_EQ(view.continueFill, c.link.ready ? 0xFFE84B3D : 0xDC223142) << c.what;
    }
}

TEST(ScreenTexts, PanelsFallBackWhenSettingsAreEmpty) {
    LauncherConfig config{};
    EXPECT_STREQ(panelTexts(News, config).headline, L"Tu próxima misión empieza aquí");
    EXPECT_STREQ(panelTexts(Community, config).headline, L"Forma parte de la Orvane");
    EXPECT_STREQ(newsCardTitle(config), L"Bienvenido al frente");
    EXPECT_STREQ(playSubtitle(config), L"Garry's Mod  ·  Iniciar desde Steam");
    EXPECT_STREQ(communityLabel(config), L"VER COMUNIDAD");
    std::wcscpy(config.news_title, L"Evento");
    std::wcscpy(config.community, L"https://orvanegaming.com");
    std::wcscpy(config.server, L"1.2.3.4:27015");
    EXPECT_STREQ(panelTexts(News, config).headline, L"Evento");
    EXPECT_STREQ(newsCardTitle(config), L"Evento");
    EXPECT_STREQ(panelTexts(Community, config).headline, L"Conecta con OrvaneGaming");
    EXPECT_STREQ(communityLabel(config), L"ABRIR COMUNIDAD");
    EXPECT_STREQ(playSubtitle(config), L"1.2.3.4:27015");
}

// The check mark and arrow ending a label are strokes in the place of their glyph.
TEST(TextSymbols, SplitsTheLabelsThatEndInASymbol) {
    struct Case {
        const wchar_t* text;
        const wchar_t* lead;
        TextSymbol symbol;
    };
    const Case cases[] = {
        {L"MIS CUENTAS  ✓", L"MIS CUENTAS  ", TextSymbol::Check},
        {L"VINCULADO  ✓", L"VINCULADO  ", TextSymbol::Check},
        {L"CONTINUAR  →", L"CONTINUAR  ", TextSymbol::Arrow},
        {L"VINCULAR CUENTAS  →", L"VINCULAR CUENTAS  ", TextSymbol::Arrow},
        {L"REINTENTAR  →", L"REINTENTAR  ", TextSymbol::Arrow},
        {L"→", L"", TextSymbol::Arrow},
        {L"VINCULAR", L"VINCULAR", TextSymbol::None},
        {L"✓ listo", L"✓ listo", TextSymbol::None}, // only a trailing symbol is drawn
        {L"", L"", TextSymbol::None},
    };
    for (const Case& c : cases) {
        const SymbolLabel label = splitTrailingSymbol(c.text);
        EXPECT_EQ(std::wstring(label.lead), c.lead);
        EXPECT_EQ(label.symbol, c.symbol);
    }
}

TEST(TextSymbols, TheLabelAndItsSymbolKeepTheTextsAlignment) {
    const DesignRect rect{100, 40, 184, 44};
    const float size = 11, leadWidth = 80, advance = kSymbolAdvanceEm * size;
    const float right = rect.x + rect.w;
    struct Case {
        int alignment;
        float leadX;
    };
    const Case cases[] = {
        {0, rect.x}, {1, rect.x + (rect.w - leadWidth - advance) / 2}, {2, right - leadWidth - advance}};
    for (const Case& c : cases) {
        const SymbolPlacement at = placeSymbol(rect, leadWidth, size, c.alignment);
        EXPECT_FLOAT_EQ(at.leadX, c.leadX) << c.alignment;
        // The glyph's place: an advance wide, an em high, over the lead text's trailing pad, on its line.
        EXPECT_FLOAT_EQ(at.symbolBox.w, advance);
        EXPECT_FLOAT_EQ(at.symbolBox.h, size);
        EXPECT_FLOAT_EQ(at.symbolBox.x, at.leadX + leadWidth - size / 6);
        EXPECT_NEAR(at.symbolBox.y + at.symbolBox.h / 2, rect.y + rect.h / 2, size * 0.05f);
        EXPECT_LE(at.symbolBox.x + at.symbolBox.w, right + 0.01f);
    }
    // Centred, the label's ink is as far from either side (its trailing pad follows the symbol).
    const SymbolPlacement centred = placeSymbol(rect, leadWidth, size, 1);
    EXPECT_NEAR(centred.leadX - rect.x, right - (centred.symbolBox.x + centred.symbolBox.w) - size / 6,
                0.01f);
}

TEST(TextSymbols, StrokesStayInTheirBoxAndHaveTheirShape) {
    const DesignRect box{200, 30, 13.44f, 16};
    const auto inside = [&](DesignPoint p) {
        return p.x >= box.x && p.x <= box.x + box.w && p.y >= box.y && p.y <= box.y + box.h;
    };
    for (bool bold : {false, true})
        for (TextSymbol symbol : {TextSymbol::Check, TextSymbol::Arrow}) {
            const SymbolStrokes s = symbolStrokes(symbol, box, bold);
            EXPECT_GT(s.width, 0.0f);
            for (int i = 0; i < 2; ++i)
                for (int k = 0; k < s.counts[i]; ++k)
                    EXPECT_TRUE(inside(s.lines[i][k])) << "stroke " << i << " point " << k;
        }
    EXPECT_GT(symbolStrokes(TextSymbol::Check, box, true).width,
              symbolStrokes(TextSymbol::Check, box, false).width);

    // A check: one stroke down to its lowest point, then up higher than it started.
    const SymbolStrokes check = symbolStrokes(TextSymbol::Check, box, false);
    ASSERT_EQ(check.counts[0], 3);
    EXPECT_EQ(check.counts[1], 0);
    const DesignPoint* v = check.lines[0];
    EXPECT_GT(v[1].y, v[0].y);
    EXPECT_LT(v[2].y, v[0].y);
    EXPECT_TRUE(v[0].x < v[1].x && v[1].x < v[2].x);

    // An arrow: a level shaft and a head whose two halves meet at the shaft's right end.
    const SymbolStrokes arrow = symbolStrokes(TextSymbol::Arrow, box, false);
    ASSERT_EQ(arrow.counts[0], 2);
    ASSERT_EQ(arrow.counts[1], 3);
    const DesignPoint* shaft = arrow.lines[0];
    const DesignPoint* head = arrow.lines[1];
    EXPECT_FLOAT_EQ(shaft[0].y, shaft[1].y);
    EXPECT_LT(shaft[0].x, shaft[1].x);
    EXPECT_FLOAT_EQ(head[1].x, shaft[1].x);
    EXPECT_FLOAT_EQ(head[1].y, shaft[1].y);
    EXPECT_FLOAT_EQ(head[0].x, head[2].x);
    EXPECT_FLOAT_EQ(head[0].y + head[2].y, 2 * shaft[1].y);
    EXPECT_LT(head[0].x, head[1].x);

    const SymbolStrokes none = symbolStrokes(TextSymbol::None, box, false);
    EXPECT_EQ(none.counts[0] + none.counts[1], 0);
}
