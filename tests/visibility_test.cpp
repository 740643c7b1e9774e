#include "app/visibility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct CoverCase {
    const char* name;
    RECT target;
    std::vector<RECT> above;
    bool covered;
};

TEST(Coverage, WindowsAboveCoverTheTargetOrNot) {
    const RECT target = {100, 100, 500, 400};
    const CoverCase cases[] = {
        {"exactly", target, {{100, 100, 500, 400}}, true},
        {"a larger window", target, {{0, 0, 1920, 1080}}, true},
        {"one column short", target, {{100, 100, 499, 400}}, false},
        {"one row short at the top", target, {{100, 101, 500, 400}}, false},
        {"two halves", target, {{100, 100, 300, 400}, {300, 100, 500, 400}}, true},
        {"two halves with a gap", target, {{100, 100, 299, 400}, {300, 100, 500, 400}}, false},
        {"four overlapping quadrants",
         target,
         {{90, 90, 320, 260}, {280, 90, 510, 260}, {90, 240, 320, 410}, {280, 240, 510, 410}},
         true},
        {"a frame around a hole",
         target,
         {{100, 100, 500, 150}, {100, 350, 500, 400}, {100, 100, 150, 400}, {450, 100, 500, 400}},
         false},
        {"beside it", target, {{500, 100, 900, 400}, {0, 0, 100, 1080}}, false},
        {"none", target, {}, false},
        {"an empty window among them", target, {{300, 300, 300, 300}, {0, 0, 600, 600}}, true},
        {"an empty target", {200, 200, 200, 300}, {{0, 0, 1920, 1080}}, false},
    };
    for (const CoverCase& c : cases)
        EXPECT_EQ(coveredCompletely(c.target, c.above.data(), c.above.size()), c.covered) << c.name;
}

// Random windows on a small screen, judged pixel by pixel.
TEST(Coverage, AgreesWithPaintingEveryPixel) {
    std::mt19937 random(2512);
    std::uniform_int_distribution<int> coordinate(0, 12), count(0, 6);
    auto box = [&] {
        const int a = coordinate(random), b = coordinate(random), c = coordinate(random),
                  d = coordinate(random);
        return RECT{std::min(a, b), std::min(c, d), std::max(a, b), std::max(c, d)};
    };
    int covered = 0;
    for (int round = 0; round < 4000; ++round) {
        const RECT target = box();
        std::vector<RECT> above(static_cast<size_t>(count(random)));
        for (RECT& r : above)
            r = box();
        bool every = target.right > target.left && target.bottom > target.top;
        for (int y = target.top; y < target.bottom && every; ++y)
            for (int x = target.left; x < target.right && every; ++x) {
                bool hit = false;
                for (const RECT& r : above)
                    hit = hit || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
                every = hit;
            }
        covered += every;
        ASSERT_EQ(coveredCompletely(target, above.data(), above.size()), every) << "round " << round;
    }
    EXPECT_GT(covered, 100); // both answers were tried many times
}

// A window under a thousand thin strips and one window over everything is covered, but the answer
// would take too many pieces: the window keeps drawing rather than guess.
TEST(Coverage, TooManyPiecesCountsAsVisible) {
    const RECT target = {0, 0, 4000, 100};
    std::vector<RECT> above;
    for (LONG x = 0; x < 4000; x += 2)
        above.push_back({x, 0, x + 1, 100});
    EXPECT_FALSE(coveredCompletely(target, above.data(), above.size()));
    above.push_back({0, 0, 4000, 100});
    EXPECT_FALSE(coveredCompletely(target, above.data(), above.size()));
    EXPECT_TRUE(coveredCompletely(target, &above.back(), 1));
}

// Minimised there is no timer at all unless something only a timer can bring is due (dueMs), and then
// exactly that long; seen or hidden, what is due makes no difference.
TEST(Visibility, StateAndTimerPeriodFromTheFacts) {
    struct Case {
        const char* name;
        VisibilityFacts facts;
        unsigned dueMs;
        WindowShown shown;
        unsigned periodMs;
    };
    const Case cases[] = {
        {"nothing in the way", {}, 0, WindowShown::Visible, 16},
        {"nothing in the way, something due", {}, 3200, WindowShown::Visible, 16},
        {"minimised", {.minimised = true}, 0, WindowShown::Minimised, 0},
        {"minimised, something due", {.minimised = true}, 3200, WindowShown::Minimised, 3200},
        {"covered", {.covered = true}, 0, WindowShown::Hidden, 1000},
        {"covered, something due", {.covered = true}, 3200, WindowShown::Hidden, 1000},
        {"cloaked", {.cloaked = true}, 0, WindowShown::Hidden, 1000},
        {"session locked", {.sessionLocked = true}, 0, WindowShown::Hidden, 1000},
        {"display off", {.displayOff = true}, 0, WindowShown::Hidden, 1000},
        {"minimised while covered and locked",
         {.minimised = true, .covered = true, .sessionLocked = true},
         0,
         WindowShown::Minimised,
         0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windowShown(c.facts), c.shown) << c.name;
        EXPECT_EQ(framePeriodMs(windowShown(c.facts), c.dueMs), c.periodMs) << c.name;
    }
}

TEST(Visibility, WhatATickLooksAt) {
    struct Case {
        WindowShown shown;
        bool active;
        double sinceLastWalk;
        CoverageCheck check;
    };
    const Case cases[] = {
        {WindowShown::Visible, true, 30.0, CoverageCheck::None}, // active: only events look
        {WindowShown::Visible, false, 0.5, CoverageCheck::None}, // inactive: once a second
        {WindowShown::Visible, false, 1.0, CoverageCheck::AllWindowsAbove},
        {WindowShown::Hidden, false, 0.0, CoverageCheck::CoveringWindows}, // each wake-up, cheaply
        {WindowShown::Hidden, true, 9.9, CoverageCheck::CoveringWindows},
        {WindowShown::Hidden, false, 10.0, CoverageCheck::AllWindowsAbove}, // and a full walk now and then
        {WindowShown::Minimised, false, 30.0, CoverageCheck::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(coverageCheckDue(c.shown, c.active, 100.0, 100.0 + c.sinceLastWalk), c.check)
            << static_cast<int>(c.shown) << " active " << c.active << " after " << c.sinceLastWalk;
}

} // namespace
