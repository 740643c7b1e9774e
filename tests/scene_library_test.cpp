#include "scenes/scene_library.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::wstring stagedAssets() {
    return unixPathFromEnv("ORVANE_STAGE") + L"\\assets";
}
std::wstring fixture(const wchar_t* name) {
    return unixPathFromEnv("ORVANE_FIXTURES") + L"\\" + name;
}

// A program folder of its own, with an assets folder filled file by file.
struct ProgramFolder {
    TempFolder root;
    std::wstring assets = root / L"assets";

    void makeAssets() const { CreateDirectoryW(assets.c_str(), nullptr); }
    void put(const wchar_t* name, const std::wstring& from) const {
        makeAssets();
        ASSERT_TRUE(CopyFileW(from.c_str(), (assets + L"\\" + name).c_str(), FALSE)) << from;
    }
    void putStandardThree() const {
        for (const wchar_t* name : {L"vexil-squad.jpg", L"galactic-battle.jpg", L"orvane-ground.jpg"})
            put(name, stagedAssets() + L"\\" + name);
    }
};

std::vector<std::wstring> namesOf(const SceneLibrary& library) {
    std::vector<std::wstring> names;
    for (const auto& scene : library.scenes)
        names.push_back(scene->name);
    return names;
}

void expectOnlyBuiltIn(const SceneLibrary& library) {
    ASSERT_EQ(library.scenes.size(), 1u);
    const Scene& scene = *library.scenes[0];
    EXPECT_EQ(scene.name, L"orvane-scene.jpg");
    EXPECT_EQ(scene.path, L"embedded:scene");
    EXPECT_EQ(scene.width, 1920u);
    EXPECT_EQ(scene.height, 1080u);
}

const std::vector<std::wstring> kStandardOrder = {L"vexil-squad.jpg", L"galactic-battle.jpg",
                                                  L"orvane-ground.jpg"};

} // namespace

TEST(SceneRules, CanonicalPath) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"C:\\Games\\assets\\a.jpg", L"\\\\?\\C:\\Games\\assets\\a.jpg"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"\\\\server\\share\\assets", L"\\\\?\\UNC\\server\\share\\assets"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(canonicalPath(c.in), c.out) << c.in;
}

TEST(SceneRules, SceneNameIsTheBackgroundRuleButNeverEmpty) {
    EXPECT_FALSE(isValidSceneName(nullptr));
    EXPECT_FALSE(isValidSceneName(L""));
    EXPECT_TRUE(isValidSceneName(L"vexil-squad.jpg"));
    EXPECT_TRUE(isValidSceneName(L"FONDO.JPEG"));
    EXPECT_FALSE(isValidSceneName(L"..\\outside.jpg"));
    EXPECT_FALSE(isValidSceneName(L"scene.bmp"));
}

TEST(LoadScenes, WithoutPicturesTheBuiltInOneIsUsed) {
    ProgramFolder noAssets;
    SceneLibrary library;
    EXPECT_TRUE(loadScenes(library, noAssets.root.path.c_str(), nullptr));
    expectOnlyBuiltIn(library);

    ProgramFolder emptyAssets;
    emptyAssets.makeAssets();
    EXPECT_TRUE(loadScenes(library, emptyAssets.root.path.c_str(), L""));
    expectOnlyBuiltIn(library);

    EXPECT_TRUE(loadScenes(library, L"", nullptr));
    expectOnlyBuiltIn(library);
}

TEST(LoadScenes, OrderFollowsTheBackgroundThenTheFixedNames) {
    struct Case {
        const wchar_t* background;
        bool withFourth;
        std::vector<std::wstring> order;
    };
    const Case cases[] = {
        {nullptr, false, kStandardOrder},
        {L"", true, kStandardOrder},
        {L"galactic-battle.jpg", false, {L"galactic-battle.jpg", L"vexil-squad.jpg", L"orvane-ground.jpg"}},
        {L"GALACTIC-BATTLE.JPG", false, {L"GALACTIC-BATTLE.JPG", L"vexil-squad.jpg", L"orvane-ground.jpg"}},
        {L"fourth.png",
         true,
         {L"fourth.png", L"vexil-squad.jpg", L"galactic-battle.jpg", L"orvane-ground.jpg"}},
        {L"fourth.png", false, kStandardOrder},
        {L"..\\outside.jpg", false, kStandardOrder},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.putStandardThree();
        if (c.withFourth)
            folder.put(L"fourth.png", fixture(L"small-64x36.png"));
        // A picture beside the program folder must stay out of reach of a "..\" background.
        ASSERT_TRUE(
            CopyFileW(fixture(L"small-64x36.png").c_str(), (folder.root / L"outside.jpg").c_str(), FALSE));
        SceneLibrary library;
        EXPECT_TRUE(loadScenes(library, folder.root.path.c_str(), c.background));
        EXPECT_EQ(namesOf(library), c.order) << (c.background ? c.background : L"(none)");
    }
}

TEST(LoadScenes, ScenesCarryTheirFinalPathSizeAndAFreshClock) {
    ProgramFolder folder;
    folder.putStandardThree();
    SceneLibrary library;
    const uint64_t before = GetTickCount64();
    ASSERT_TRUE(loadScenes(library, folder.root.path.c_str(), nullptr));
    ASSERT_EQ(library.scenes.size(), 3u);
    for (const auto& scene : library.scenes) {
        EXPECT_EQ(CompareStringOrdinal(scene->path.c_str(), -1,
                                       canonicalPath(folder.assets + L"\\" + scene->name).c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << scene->path;
        EXPECT_EQ(scene->width, 1920u);
        EXPECT_EQ(scene->height, 1080u);
        EXPECT_NE(scene->opaqueAttributes.handle.get(), nullptr);
        EXPECT_EQ(scene->fadeAttributes.status, Gdiplus::Ok);
    }
    EXPECT_GE(library.clock, before);
    EXPECT_EQ(library.currentShownAt, library.clock);
    EXPECT_EQ(library.previousShownAt, library.clock);
    EXPECT_EQ(library.lastAdvanceAt, library.clock);
    EXPECT_EQ(library.fadeStartedAt, 0u);
    EXPECT_EQ(library.pausedAt, 0u);

    library.current = 2;
    library.fading = library.paused = true;
    library.pausedAt = 5;
    emptySceneLibrary(library);
    EXPECT_TRUE(library.scenes.empty());
    EXPECT_EQ(library.current, 0u);
    EXPECT_FALSE(library.fading || library.paused);
    EXPECT_EQ(library.clock + library.pausedAt + library.lastAdvanceAt, 0u);
}

TEST(LoadScenes, FilesOutsideTheLimitsAreRefused) {
    struct Case {
        const wchar_t* fixture;
        bool accepted;
        uint32_t width, height;
    };
    const Case cases[] = {
        {L"empty.jpg", false, 0, 0},
        {L"oversize.jpg", false, 0, 0},
        {L"exact-limit.jpg", true, 1920, 1080},
        {L"wide-16385x1.png", false, 0, 0},
        {L"many-10000x6401.png", false, 0, 0},
        {L"truncated.jpg", false, 0, 0},
        {L"tall-16384x3906.png", true, 16384, 3906},
    };
    for (const Case& c : cases) {
        ProgramFolder folder;
        folder.put(L"vexil-squad.jpg", fixture(c.fixture));
        SceneLibrary library;
        EXPECT_TRUE(loadScenes(library, folder.root.path.c_str(), nullptr));
        ASSERT_EQ(library.scenes.size(), 1u) << c.fixture;
        const Scene& scene = *library.scenes[0];
        if (c.accepted) {
            EXPECT_EQ(scene.name, L"vexil-squad.jpg") << c.fixture;
            EXPECT_EQ(scene.width, c.width);
            EXPECT_EQ(scene.height, c.height);
        } else {
            EXPECT_EQ(scene.path, L"embedded:scene") << c.fixture;
        }
    }
}

TEST(LoadScenes, TrailingBackslashOnTheProgramFolderChangesNothing) {
    ProgramFolder folder;
    folder.putStandardThree();
    SceneLibrary plain, slashed;
    loadScenes(plain, folder.root.path.c_str(), nullptr);
    loadScenes(slashed, (folder.root.path + L"\\\\").c_str(), nullptr);
    ASSERT_EQ(namesOf(slashed), kStandardOrder);
    for (size_t i = 0; i < plain.scenes.size(); ++i)
        EXPECT_EQ(plain.scenes[i]->path, slashed.scenes[i]->path);
}

TEST(LoadScenes, APictureOpenForWritingElsewhereIsNotRead) {
    ProgramFolder folder;
    folder.putStandardThree();
    HANDLE writer = CreateFileW((folder.assets + L"\\vexil-squad.jpg").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    SceneLibrary library;
    loadScenes(library, folder.root.path.c_str(), nullptr);
    CloseHandle(writer);
    EXPECT_EQ(namesOf(library), (std::vector<std::wstring>{L"galactic-battle.jpg", L"orvane-ground.jpg"}));
}

TEST(LoadScenes, LinkedPicturesAndLinkedAssetsFoldersAreRefused) {
    // The runner prepares these with Unix symbolic links, the only links this Wine can make.
    SceneLibrary library;
    loadScenes(library, fixture(L"linked-file").c_str(), nullptr);
    EXPECT_EQ(namesOf(library), (std::vector<std::wstring>{L"galactic-battle.jpg", L"orvane-ground.jpg"}));

    loadScenes(library, fixture(L"linked-folder").c_str(), nullptr);
    expectOnlyBuiltIn(library);
}

TEST(SceneKeep, OnlyWhatAWindowCanShowAtTheSizeItIsShown) {
    const SceneBound screen{1973, 1111, 3.0f, 0.9f}; // a 1920 x 1080 screen, windows down to 960 x 640
    struct Case {
        const char* what;
        uint32_t width, height;
        SceneBound bound;
        SceneKeep keep;
    };
    const Case cases[] = {
        {"no bound: kept whole", 16384, 3906, {}, {0, 0, 16384, 3906, 16384, 3906}},
        {"already smaller", 1920, 1080, screen, {0, 0, 1920, 1080, 1920, 1080}},
        {"16:9, scaled only", 7680, 4320, screen, {0, 0, 7680, 4320, 1976, 1111}},
        // 3 x 3906 x 1.008 + 2 = 11814 of the width are ever shown; the height binds the scale.
        {"wide: sides cut, then scaled", 16384, 3906, screen, {2285, 0, 11814, 3906, 3361, 1111}},
        // 3906 / 0.9 + 2 = 4342 of the height; the width binds.
        {"tall: top and bottom cut", 3906, 16384, screen, {0, 6021, 3906, 4342, 1973, 2194}},
        {"wide but small: cut, not scaled", 3000, 600, screen, {591, 0, 1817, 600, 1817, 600}},
        {"exact cover", 5000, 5000, {100, 100}, {0, 0, 5000, 5000, 100, 100}},
    };
    for (const Case& c : cases) {
        const SceneKeep k = sceneKeep(c.width, c.height, c.bound);
        EXPECT_EQ(k.x, c.keep.x) << c.what;
        EXPECT_EQ(k.y, c.keep.y) << c.what;
        EXPECT_EQ(k.width, c.keep.width) << c.what;
        EXPECT_EQ(k.height, c.keep.height) << c.what;
        EXPECT_EQ(k.keptWidth, c.keep.keptWidth) << c.what;
        EXPECT_EQ(k.keptHeight, c.keep.keptHeight) << c.what;
    }
}

TEST(DownscaleArea, EachPixelIsTheMeanOfTheAreaItCovers) {
    const auto pixel = [](uint8_t v) { return std::vector<uint8_t>{v, v, v, 255}; };
    const auto image = [&](const std::vector<uint8_t>& values) {
        std::vector<uint8_t> out;
        for (uint8_t v : values)
            for (uint8_t b : pixel(v))
                out.push_back(b);
        return out;
    };
    struct Case {
        const char* what;
        int sw, sh;
        std::vector<uint8_t> source; // grey levels, row by row
        int tw, th;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"checker halves to mid grey", 4, 2, {0, 255, 0, 255, 255, 0, 255, 0}, 2, 1, {128, 128}},
        {"fractional spans weigh their share", 3, 1, {0, 90, 180}, 2, 1, {30, 150}},
        {"one pixel is the mean of all", 2, 2, {10, 20, 30, 40}, 1, 1, {25}},
        {"same size copies", 2, 1, {7, 200}, 2, 1, {7, 200}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> source = image(c.source);
        std::vector<uint8_t> target(static_cast<size_t>(c.tw) * c.th * 4, 0);
        downscaleArea(source.data(), c.sw, c.sh, c.sw * 4, target.data(), c.tw, c.th, c.tw * 4);
        EXPECT_EQ(target, image(c.expected)) << c.what;
    }
}
