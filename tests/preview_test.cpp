#include "render/carousel.h"
#include "render/preview.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

using namespace testsupport;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

std::wstring stagedPicture(const wchar_t* name) {
    return unixPathFromEnv("ORVANE_STAGE") + L"\\assets\\" + name;
}
std::wstring fixture(const wchar_t* name) {
    return unixPathFromEnv("ORVANE_FIXTURES") + L"\\" + name;
}

struct PreviewRun {
    TempFolder root;
    SceneLibrary scenes;
    UiState ui;
    LauncherConfig config{};
    LinkState link;
    int exitCode = -1;

    // Pictures are copied in as name <- source pairs, then loaded as start-up would.
    void load(std::initializer_list<std::pair<const wchar_t*, std::wstring>> pictures) {
        CreateDirectoryW((root / L"assets").c_str(), nullptr);
        for (const auto& [name, from] : pictures)
            ASSERT_TRUE(CopyFileW(from.c_str(), (root.path + L"\\assets\\" + name).c_str(), FALSE));
        loadScenes(scenes, root.path.c_str(), pictures.size() == 4 ? L"fourth.png" : nullptr);
    }
    void render(bool withReports = true, float dpiFactor = 1.0f) {
        if (withReports)
            CreateDirectoryW((root / L"reports").c_str(), nullptr);
        exitCode = renderPreviewSeries(root.path, scenes, ui, config, link, dpiFactor);
    }
    std::set<std::wstring> files() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((root.path + L"\\reports\\*.png").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do
                names.insert(entry.cFileName);
            while (FindNextFileW(find, &entry));
            FindClose(find);
        }
        return names;
    }
    std::wstring report(const wchar_t* name) const { return root.path + L"\\reports\\" + name; }
};

// Width and height from a PNG's header chunk.
std::pair<int, int> pngSize(const std::wstring& path) {
    const std::string bytes = readBytes(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) |
               (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    };
    return {be32(16), be32(20)};
}

ARGB pixelAt(const std::wstring& path, int x, int y) {
    GpBitmap* bitmap = nullptr;
    ARGB pixel = 0;
    if (GdipCreateBitmapFromFile(path.c_str(), &bitmap) == Ok) {
        GdipBitmapGetPixel(bitmap, x, y, &pixel);
        GdipDisposeImage(bitmap);
    }
    return pixel;
}

// Colours match when every channel is within a small anti-aliasing tolerance.
::testing::AssertionResult closeTo(ARGB actual, ARGB expected, int tolerance = 6) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int a = (actual >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
        if (std::abs(a - e) > tolerance)
            return ::testing::AssertionFailure()
                   << std::hex << "0x" << actual << " is not near 0x" << expected;
    }
    return ::testing::AssertionSuccess();
}

const std::set<std::wstring> kAlways = {
    L"preview.png",         L"preview-compact.png",         L"preview-small.png",
    L"preview-news.png",    L"preview-news-compact.png",    L"preview-community.png",
    L"preview-linking.png", L"preview-linking-compact.png", L"preview-linking-ready.png"};

std::set<std::wstring> withExtra(std::initializer_list<const wchar_t*> extra) {
    std::set<std::wstring> names = kAlways;
    for (const wchar_t* name : extra)
        names.insert(name);
    return names;
}

// Every image at its size times the factor, and the layout's own points where the factor puts them.
void expectDrawnAtFactor(const PreviewRun& run, float factor) {
    const auto at = [&](int units) { return static_cast<int>(units * factor); };
    for (const std::wstring& name : run.files()) {
        const auto [w, h] = pngSize(run.report(name.c_str()));
        const bool compact = name.find(L"compact") != std::wstring::npos,
                   small = name == L"preview-small.png";
        EXPECT_EQ(w, at(small ? 800 : compact ? 960 : 1420)) << name;
        EXPECT_EQ(h, at(small ? 540 : compact ? 640 : 890)) << name;
    }

    // Continue button (card at 360, 233 on 1420 x 890): accent once ready, muted fill before.
    EXPECT_TRUE(closeTo(pixelAt(run.report(L"preview-linking-ready.png"), at(410), at(613)), 0xFFE84B3D));
    EXPECT_FALSE(closeTo(pixelAt(run.report(L"preview-linking.png"), at(410), at(613)), 0xFFE84B3D, 40));
    // Accent underline under the selected tab: "Novedades" on the news screen, not on home.
    EXPECT_TRUE(closeTo(pixelAt(run.report(L"preview-news.png"), at(708), at(92)), 0xFFE84B3D, 24));
    EXPECT_FALSE(closeTo(pixelAt(run.report(L"preview.png"), at(708), at(92)), 0xFFE84B3D, 40));
    EXPECT_TRUE(closeTo(pixelAt(run.report(L"preview.png"), at(604), at(92)), 0xFFE84B3D, 24));
}

} // namespace

TEST(Previews, ThreeStandardScenesGiveTwelveFilesOfTheRightSizes) {
    PreviewRun run;
    run.load({{L"vexil-squad.jpg", stagedPicture(L"vexil-squad.jpg")},
              {L"galactic-battle.jpg", stagedPicture(L"galactic-battle.jpg")},
              {L"orvane-ground.jpg", stagedPicture(L"orvane-ground.jpg")}});
    togglePause(run.scenes, GetTickCount64()); // a paused carousel is resumed first
    run.render();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.scenes.paused);
    EXPECT_EQ(run.files(),
              withExtra({L"preview-scene-2.png", L"preview-scene-3.png", L"preview-transition.png"}));
    expectDrawnAtFactor(run, 1.0f);
    // The staged states leave the library on scene 0, on the home screen.
    EXPECT_EQ(run.scenes.current, 0u);
    EXPECT_EQ(run.ui.screen, Home);
    EXPECT_EQ(run.ui.previewLinkState, nullptr);
}

// As a window on a 200 % screen draws them: twice the pixels, the same layout, the same checks.
TEST(Previews, AtDpiFactorTwoTheSameChecksHoldAtTwiceTheSize) {
    PreviewRun run;
    run.load({{L"vexil-squad.jpg", stagedPicture(L"vexil-squad.jpg")},
              {L"galactic-battle.jpg", stagedPicture(L"galactic-battle.jpg")}});
    run.render(true, 2.0f);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.files(), withExtra({L"preview-scene-2.png", L"preview-transition.png"}));
    expectDrawnAtFactor(run, 2.0f);
}

TEST(Previews, SceneFilesFollowTheNumberOfScenes) {
    const std::wstring small = fixture(L"small-64x36.png");
    {
        PreviewRun run;
        run.load({{L"vexil-squad.jpg", stagedPicture(L"vexil-squad.jpg")},
                  {L"galactic-battle.jpg", stagedPicture(L"galactic-battle.jpg")},
                  {L"orvane-ground.jpg", stagedPicture(L"orvane-ground.jpg")},
                  {L"fourth.png", small}});
        ASSERT_EQ(run.scenes.scenes.size(), 4u);
        run.render();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.files(), withExtra({L"preview-scene-2.png", L"preview-scene-3.png",
                                          L"preview-scene-4.png", L"preview-transition.png"}));
    }
    {
        PreviewRun run;
        run.load({});
        ASSERT_EQ(run.scenes.scenes.size(), 1u); // the built-in picture
        run.render();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.files(), kAlways);
    }
}

TEST(Previews, WithoutScenesOnlyTheBackdropColourShows) {
    PreviewRun run;
    run.render();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.files(), kAlways);
    // An empty stretch of the home screen: base colour under scrims of the same colour.
    EXPECT_TRUE(closeTo(pixelAt(run.report(L"preview.png"), 700, 300), 0xFF070D16, 2));
}

TEST(Previews, MissingReportsFolderFailsWithCodeThree) {
    PreviewRun run;
    run.load({});
    run.render(false);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_FALSE(exists(run.root / L"reports"));
}

TEST(Previews, EncoderLookupIsExact) {
    CLSID clsid{};
    EXPECT_GE(findEncoder(L"image/png", clsid), 0);
    EXPECT_EQ(findEncoder(L"image/PNG", clsid), -1);
    EXPECT_EQ(findEncoder(L"image/webp-nope", clsid), -1);
}

TEST(CarouselFingerprint, EmptyLibraryHashesBlackAndScenesChangeIt) {
    uint64_t black = 0x14650FB0739D0383ull;
    for (int i = 0; i < 240; ++i)
        black = (black ^ 0xFF000000ull) * 0x100000001B3ull;
    SceneLibrary empty;
    EXPECT_EQ(carouselFingerprint(empty), black);

    PreviewRun run;
    run.load({{L"vexil-squad.jpg", stagedPicture(L"vexil-squad.jpg")},
              {L"galactic-battle.jpg", stagedPicture(L"galactic-battle.jpg")}});
    const uint64_t start = run.scenes.clock;
    const uint64_t first = carouselFingerprint(run.scenes);
    EXPECT_NE(first, black);
    EXPECT_EQ(carouselFingerprint(run.scenes), first); // same state, same hash

    togglePause(run.scenes, start + 100);
    const uint64_t paused = carouselFingerprint(run.scenes);
    tickCarousel(run.scenes, start + 5000);
    EXPECT_EQ(carouselFingerprint(run.scenes), paused);
    stepScene(run.scenes, +1, start + 5000);
    EXPECT_NE(carouselFingerprint(run.scenes), paused);
}
