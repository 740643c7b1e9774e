#include "app/back_buffer.h"
#include "app/window_logic.h"
#include "render/hit_geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(WindowPlacement, FromTheScreenSize) {
    struct Case {
        int sw, sh;
        WindowPlacement expected;
    };
    const Case cases[] = {
        {1920, 1080, {250, 95, 1420, 890}}, {1366, 768, {20, 40, 1326, 688}},
        {1460, 970, {20, 40, 1420, 890}},   {1459, 1200, {20, 155, 1419, 890}},
        {2560, 969, {570, 40, 1420, 889}},
    };
    for (const Case& c : cases) {
        const WindowPlacement p = windowPlacement(c.sw, c.sh);
        EXPECT_EQ(p.left, c.expected.left) << c.sw << "x" << c.sh;
        EXPECT_EQ(p.top, c.expected.top) << c.sw << "x" << c.sh;
        EXPECT_EQ(p.width, c.expected.width) << c.sw << "x" << c.sh;
        EXPECT_EQ(p.height, c.expected.height) << c.sw << "x" << c.sh;
    }
}

TEST(CustomFrame, HitCodes) {
    const int R = 1420, B = 890;
    struct Case {
        int x, y;
        bool maximised;
        int code;
    };
    const Case cases[] = {
        {3, 3, false, HTTOPLEFT},        {20, 3, false, HTTOP},          {R - 3, 3, false, HTTOPRIGHT},
        {7, 5, false, HTTOPLEFT},        {8, 5, false, HTTOP},           {R - 8, 5, false, HTTOP},
        {3, B - 3, false, HTBOTTOMLEFT}, {500, B - 3, false, HTBOTTOM},  {R - 3, B - 3, false, HTBOTTOMRIGHT},
        {3, 300, false, HTLEFT},         {R - 3, 300, false, HTRIGHT},   {20, 20, false, HTCAPTION},
        {20, 41, false, HTCAPTION},      {20, 42, false, HTCLIENT},      {8, 20, false, HTCLIENT},
        {R - 127, 20, false, HTCAPTION}, {R - 126, 20, false, HTCLIENT}, {R - 100, 20, false, HTCLIENT},
        {3, 3, true, HTCLIENT},          {20, 3, true, HTCAPTION},       {R - 3, 300, true, HTCLIENT},
        {500, B - 3, true, HTCLIENT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frameHitCode(c.x, c.y, R, B, c.maximised), c.code)
            << "(" << c.x << ", " << c.y << ")" << (c.maximised ? " maximised" : "");
}

TEST(WindowPlacement, GrowsWithTheScreensDpi) {
    struct Case {
        int sw, sh;
        float factor;
        WindowPlacement expected;
    };
    const Case cases[] = {
        {3840, 2160, 2.0f, {500, 190, 2840, 1780}}, // 200 %: the 96 DPI window, doubled
        {2560, 1600, 1.5f, {215, 132, 2130, 1335}}, // 150 %
        {1920, 1080, 1.25f, {72, 50, 1775, 980}},   // the height is 100 short of the screen
        {2880, 1620, 2.0f, {40, 80, 2800, 1460}},   // both 80 / 160 short of the screen
        {3840, 2160, 1.0f, {1210, 635, 1420, 890}}, // 96 DPI on a large screen
        {1920, 1080, 0.75f, {250, 95, 1420, 890}},  // below 96 DPI counts as 96
    };
    for (const Case& c : cases) {
        const WindowPlacement p = windowPlacement(c.sw, c.sh, c.factor);
        const std::string what =
            std::to_string(c.sw) + "x" + std::to_string(c.sh) + " at " + std::to_string(c.factor);
        EXPECT_EQ(p.left, c.expected.left) << what;
        EXPECT_EQ(p.top, c.expected.top) << what;
        EXPECT_EQ(p.width, c.expected.width) << what;
        EXPECT_EQ(p.height, c.expected.height) << what;
    }
}

TEST(WindowSizing, MinimumTrackSizeGrowsWithTheDpiButFitsTheWorkArea) {
    struct Case {
        float factor;
        WindowSize maximised, expected;
    };
    const Case cases[] = {
        {1.0f, {1920, 1040}, {960, 640}},  {2.0f, {3840, 2120}, {1920, 1280}},
        {1.5f, {1900, 1000}, {1440, 960}}, {2.0f, {1366, 728}, {1366, 728}},
        {1.0f, {800, 600}, {800, 600}},    {1.0f, {INT_MAX, INT_MAX}, {960, 640}}, // no monitor information
        {1.25f, {1500, 700}, {1200, 700}},
    };
    for (const Case& c : cases) {
        const WindowSize least = minimumTrackSize(c.factor, c.maximised);
        EXPECT_EQ(least.width, c.expected.width) << c.factor << " " << c.maximised.width;
        EXPECT_EQ(least.height, c.expected.height) << c.factor << " " << c.maximised.height;
    }
}

TEST(WindowSizing, ClientAreaIsTheWholeWindowOrTheWorkArea) {
    const RECT overhanging = {-8, -8, 1928, 1048}, work = {0, 0, 1920, 1040}, placed = {250, 95, 1670, 985};
    struct Case {
        RECT window;
        bool maximised;
        const RECT* work;
        RECT expected;
    };
    const Case cases[] = {
        {placed, false, &work, placed},   // restored: no system frame at all
        {placed, false, nullptr, placed}, //
        {overhanging, true, &work, work}, // maximised: exactly the work area, nothing past the screen
        {work, true, &work, work},        //
        {overhanging, true, nullptr, overhanging}, // work area unknown: the window as it is
    };
    for (const Case& c : cases) {
        const RECT r = clientAreaFor(c.window, c.maximised, c.work);
        EXPECT_TRUE(EqualRect(&r, &c.expected)) << r.left << "," << r.top << "," << r.right << "," << r.bottom
                                                << (c.maximised ? " maximised" : "");
    }
}

TEST(CustomFrame, HitCodesGrowWithTheDpi) {
    const int R = 2840, B = 1780; // 200 %: edges 12, corners 16, strip to 82, buttons 252 wide
    struct Case {
        int x, y;
        bool maximised;
        int code;
    };
    const Case cases[] = {
        {15, 11, false, HTTOPLEFT},      {16, 11, false, HTTOP},
        {R - 15, 11, false, HTTOPRIGHT}, {15, B - 11, false, HTBOTTOMLEFT},
        {500, B - 11, false, HTBOTTOM},  {R - 15, B - 11, false, HTBOTTOMRIGHT},
        {11, 300, false, HTLEFT},        {12, 300, false, HTCLIENT},
        {R - 11, 300, false, HTRIGHT},   {R - 12, 300, false, HTCLIENT},
        {40, 82, false, HTCAPTION},      {40, 83, false, HTCLIENT},
        {17, 40, false, HTCLIENT},       {18, 40, false, HTCAPTION},
        {R - 253, 40, false, HTCAPTION}, {R - 252, 40, false, HTCLIENT},
        {11, 11, true, HTCLIENT},        {40, 11, true, HTCAPTION},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frameHitCode(c.x, c.y, R, B, c.maximised, 2.0f), c.code)
            << "(" << c.x << ", " << c.y << ")" << (c.maximised ? " maximised" : "");
}

// The title strip and the window buttons drawn in it agree at every DPI: the buttons are client area
// found by hitTest, and the strip left of them drags the window.
TEST(CustomFrame, WindowButtonsAndDragStripAgreeWithTheLayoutAtEveryDpi) {
    const HitConditions when{Linking, 3, true, false};
    struct Client {
        int w, h; // at 96 DPI, times the factor
    };
    const Client clients[] = {{1420, 890}, {960, 640}, {1920, 1080}, {800, 540}};
    for (float factor : {1.0f, 1.5f, 2.0f})
        for (const Client& client : clients)
            for (bool maximised : {false, true}) {
                const int w = dpiPixels(client.w, factor), h = dpiPixels(client.h, factor);
                const UiScale ui = computeUiScale(w, h, factor);
                const std::string what = std::to_string(w) + "x" + std::to_string(h) + " at " +
                                         std::to_string(factor) + (maximised ? " maximised" : "");
                for (HitTarget button : {MinimizeButton, MaximizeButton, CloseButton}) {
                    const DesignRect r = hitRect(button, ui.width, ui.height);
                    const int x = static_cast<int>((r.x + r.w / 2) * ui.scale);
                    const int y = static_cast<int>((r.y + r.h / 2) * ui.scale);
                    EXPECT_EQ(frameHitCode(x, y, w, h, maximised, factor), HTCLIENT) << button << " " << what;
                    EXPECT_EQ(hitTest(static_cast<float>(x), static_cast<float>(y), w, h, when, factor),
                              button)
                        << what;
                }
                // Between the emblem and the tabs, half-way down the title strip.
                const int x = static_cast<int>(200 * ui.scale), y = static_cast<int>(16 * ui.scale);
                EXPECT_EQ(frameHitCode(x, y, w, h, maximised, factor), HTCAPTION) << what;
            }
}

TEST(FocusRing, WalksTheRingOfTheScreen) {
    // Screen, scene count, linking enabled, sign-out offered.
    const HitConditions home1{Home, 1, false, false}, home3{Home, 3, false, false};
    const HitConditions news1{News, 1, false, false}, linking1{Linking, 1, true, false};
    const HitConditions linking3{Linking, 3, true, false};
    const HitConditions homeLinked3{Home, 3, true, true}, homeLinked1{Home, 1, true, false};
    const HitConditions signOut3{Linking, 3, true, true}, signOut1{Linking, 1, true, true};
    struct Case {
        HitConditions when;
        HitTarget from;
        bool backwards;
        HitTarget to;
    };
    const Case cases[] = {
        {home1, TabHome, false, TabNews},
        {home1, CommunityButton, false, TabHome},
        {home1, TabHome, true, CommunityButton},
        {home1, PauseButton, false, TabHome}, // outside the 5-entry ring
        {home3, CommunityButton, false, PreviousSceneButton},
        {home3, NextSceneButton, false, TabHome},
        {home3, AccountsButton, false, TabHome},
        {home3, AccountsButton, true, NextSceneButton},
        {news1, AccountsButton, true, CommunityButton},
        {linking3, LinkSteamButton, false, LinkDiscordButton},
        {linking3, LinkSteamButton, true, NextSceneButton},
        {linking1, AccountsButton, false, LinkSteamButton},
        {linking1, LinkSteamButton, true, AccountsButton},
        {linking3, PlayButton, false, LinkSteamButton},
        // "MIS CUENTAS" follows the fixed home stops while linking is on, and leads back to the start.
        {homeLinked3, NextSceneButton, false, AccountsButton},
        {homeLinked3, AccountsButton, false, TabHome},
        {homeLinked3, TabHome, true, AccountsButton},
        {homeLinked1, CommunityButton, false, AccountsButton},
        {{News, 3, true, false}, NextSceneButton, false, AccountsButton},
        // "CERRAR SESIÓN" is the linking card's last stop while it is shown; never on the home ring.
        {signOut3, NextSceneButton, false, SignOutButton},
        {signOut3, SignOutButton, false, LinkSteamButton},
        {signOut3, LinkSteamButton, true, SignOutButton},
        {signOut1, AccountsButton, false, SignOutButton},
        {linking3, SignOutButton, false, LinkSteamButton}, // signed out: not a stop any more
        {homeLinked3, SignOutButton, false, TabHome},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextFocus(c.when, c.from, c.backwards), c.to)
            << "screen " << c.when.screen << " scenes " << c.when.sceneCount << " linking "
            << c.when.linkingEnabled << " sign-out " << c.when.signOutOffered << " from " << c.from
            << (c.backwards ? " backwards" : "");

    // Walking forward visits every entry once before coming back.
    const struct {
        HitConditions when;
        HitTarget start;
        int stops;
    } walks[] = {{{Home, 4, false, false}, TabHome, 8},
                 {{Home, 4, true, false}, TabHome, 9},
                 {{Linking, 4, true, true}, LinkSteamButton, 9},
                 {{Linking, 1, true, true}, LinkSteamButton, 6}};
    for (const auto& walk : walks) {
        HitTarget at = walk.start;
        int steps = 0;
        do {
            at = nextFocus(walk.when, at, false);
            ++steps;
        } while (at != walk.start && steps < 20);
        EXPECT_EQ(steps, walk.stops) << "screen " << walk.when.screen;
    }
}

TEST(KeyMap, WhatEachKeyAsks) {
    struct Case {
        unsigned key;
        bool ctrl, shift, repeated;
        Screen screen; // from Linking, focus on the Steam button
        HitTarget focus;
        bool focusVisible, activates;
        HitTarget target;
        bool minimise, repaint;
    };
    const Case cases[] = {
        {VK_TAB, false, false, true, Linking, LinkDiscordButton, true, false, None, false, true},
        {VK_TAB, false, true, false, Linking, NextSceneButton, true, false, None, false, true},
        {VK_RETURN, false, false, false, Linking, LinkSteamButton, false, true, LinkSteamButton, false,
         false},
        {VK_SPACE, false, false, false, Linking, LinkSteamButton, false, true, LinkSteamButton, false, false},
        {VK_RETURN, false, false, true, Linking, LinkSteamButton, false, false, LinkSteamButton, false,
         false},
        {VK_ESCAPE, false, false, false, Linking, LinkSteamButton, false, false, None, true, false},
        {VK_LEFT, false, false, true, Linking, LinkSteamButton, false, true, PreviousSceneButton, false,
         false},
        {VK_RIGHT, false, false, true, Linking, LinkSteamButton, false, true, NextSceneButton, false, false},
        {VK_RIGHT, true, false, false, News, LinkSteamButton, false, false, None, false, true},
        {VK_LEFT, true, false, false, Community, LinkSteamButton, false, false, None, false, true},
        {'P', false, false, false, Linking, LinkSteamButton, false, true, PauseButton, false, false},
        {'P', false, false, true, Linking, LinkSteamButton, false, false, PauseButton, false, false},
        {'Q', false, false, false, Linking, LinkSteamButton, false, false, None, false, false},
    };
    for (const Case& c : cases) {
        UiState ui;
        ui.screen = Linking;
        ui.focus = LinkSteamButton;
        const KeyResult r = applyKey(ui, {Linking, 3, true, false}, c.key, c.ctrl, c.shift, c.repeated);
        const std::string what =
            "key " + std::to_string(c.key) + (c.ctrl ? " ctrl" : "") + (c.shift ? " shift" : "");
        EXPECT_EQ(ui.screen, c.screen) << what;
        EXPECT_EQ(ui.focus, c.focus) << what;
        EXPECT_EQ(ui.focusVisible, c.focusVisible) << what;
        EXPECT_EQ(r.activates, c.activates) << what;
        if (r.activates) {
            EXPECT_EQ(r.target, c.target) << what;
        }
        EXPECT_EQ(r.minimise, c.minimise) << what;
        EXPECT_EQ(r.repaint, c.repaint) << what;
    }
    // From Home, Ctrl+Left wraps to Community.
    UiState ui;
    applyKey(ui, {Home, 3, true, false}, VK_LEFT, true, false, false);
    EXPECT_EQ(ui.screen, Community);
}

TEST(EmblemClock, FourDegreesASecondAndStallsAreCapped) {
    EmblemClock clock{0.0f, 0.0};
    clock = advanceEmblem(clock, 100.0); // first tick only starts the clock
    EXPECT_EQ(clock.angle, 0.0f);
    clock = advanceEmblem(clock, 100.016);
    EXPECT_NEAR(clock.angle, 0.064f, 1e-4f);
    clock = advanceEmblem(clock, 160.0); // a minute-long stall
    EXPECT_NEAR(clock.angle, 0.464f, 1e-4f);
    clock = advanceEmblem({359.9f, 10.0}, 10.05);
    EXPECT_NEAR(clock.angle, 0.1f, 1e-3f);      // wraps at 360
    clock = advanceEmblem({12.0f, 0.0}, 500.0); // after a restore: no jump
    EXPECT_EQ(clock.angle, 12.0f);
    EXPECT_EQ(clock.lastFrameTime, 500.0);
}

TEST(BackBufferReuse, OneBitmapPerSize) {
    HDC screen = CreateCompatibleDC(nullptr);
    ASSERT_NE(screen, nullptr);
    {
        BackBuffer buffer;
        EXPECT_FALSE(ensureBackBuffer(buffer, screen, 0, 10));
        EXPECT_FALSE(ensureBackBuffer(buffer, screen, 8001, 8000)); // over 64,000,000 pixels
        EXPECT_EQ(buffer.recreations, 0u);
        ASSERT_TRUE(ensureBackBuffer(buffer, screen, 320, 200));
        ASSERT_TRUE(ensureBackBuffer(buffer, screen, 320, 200));
        EXPECT_EQ(buffer.recreations, 1u);
        ASSERT_TRUE(ensureBackBuffer(buffer, screen, 321, 200));
        ASSERT_TRUE(ensureBackBuffer(buffer, screen, 320, 200));
        EXPECT_EQ(buffer.recreations, 3u);
        EXPECT_EQ(buffer.width, 320);
        ASSERT_NE(buffer.pixels, nullptr);
        static_cast<uint32_t*>(buffer.pixels)[320 * 200 - 1] = 0xFFFFFFFF; // the whole frame is writable
        releaseBackBuffer(buffer);
        EXPECT_EQ(buffer.dc, nullptr);
        EXPECT_EQ(buffer.bitmap, nullptr);
        releaseBackBuffer(buffer); // a second release is harmless
    }
    DeleteDC(screen);
}

TEST(BackgroundRate, FullRateUntilTwoSecondsBehindAnotherWindow) {
    struct Case {
        double backgroundSince, now;
        int paintedOf128; // ticks 0..127 that paint
    };
    const Case cases[] = {
        {0.0, 100.0, 128},  // the launcher has the focus
        {99.0, 100.0, 128}, // lost it a second ago
        {98.0, 100.0, 128}, // exactly two seconds: still full rate
        {97.0, 100.0, 2},   // behind the game: about once a second
    };
    for (const Case& c : cases) {
        int painted = 0;
        for (uint64_t tick = 0; tick < 128; ++tick)
            painted += paintsThisTick(c.backgroundSince, c.now, tick) ? 1 : 0;
        EXPECT_EQ(painted, c.paintedOf128) << c.backgroundSince << " " << c.now;
    }
}
