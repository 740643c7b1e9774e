#include "selftest/checks.h"
#include "selftest/self_test.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// A program folder with its reports folder and, when asked, the three standard pictures; its own
// library is loaded from it as start-up would.
struct Installation {
    TempFolder root;
    SceneLibrary scenes;
    UiState ui;
    LinkState link;
    LauncherConfig config{};

    explicit Installation(bool pictures) {
        CreateDirectoryW((root / L"reports").c_str(), nullptr);
        if (pictures) {
            CreateDirectoryW((root / L"assets").c_str(), nullptr);
            for (const wchar_t* name : {L"vexil-squad.jpg", L"galactic-battle.jpg", L"orvane-ground.jpg"})
                CopyFileW((unixPathFromEnv("ORVANE_STAGE") + L"\\assets\\" + name).c_str(),
                          (root / L"assets\\" + name).c_str(), FALSE);
        }
        loadScenes(scenes, root.path.c_str(), nullptr);
    }
    SelfTestInputs inputs() { return SelfTestInputs{root.path, ui, scenes, link, config}; }
};

struct GroupResult {
    const char* name;
    SelfTestTally tally;
};

// Each group on its own, in the mode's order, so a failure shows where it belongs.
std::vector<GroupResult> runGroups(Installation& at) {
    const std::wstring& folder = at.root.path;
    const std::pair<const char*, std::function<void(SelfTestTally&)>> groups[] = {
        {"input rules", [&](SelfTestTally& t) { checkInputRules(t); }},
        {"configuration", [&](SelfTestTally& t) { checkConfigurationFile(t, folder); }},
        {"hit targets", [&](SelfTestTally& t) { checkHitTargets(t, at.ui, at.scenes.scenes.size()); }},
        {"carousel timing", [&](SelfTestTally& t) { checkCarouselTiming(t, folder); }},
        {"scene loading", [&](SelfTestTally& t) { checkSceneLoading(t, folder); }},
        {"back buffer", [&](SelfTestTally& t) { checkBackBuffer(t); }},
        {"final frame",
         [&](SelfTestTally& t) {
             checkFinalFrame(t, FrameInputs{at.ui, at.link, at.config, at.scenes});
         }},
    };
    std::vector<GroupResult> results;
    for (const auto& [name, run] : groups) {
        SelfTestTally tally;
        run(tally);
        results.push_back({name, tally});
    }
    return results;
}

// One function checks the home layouts, the scaled Play button and the linking card: 240 + 2 + 20.
const uint32_t kChecksPerGroup[] = {32, 13, 262, 18, 7, 4, 4};

// User and kernel time of this process so far; a busy machine stretches the wall time, not this.
double processCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    auto ms = [](FILETIME t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

} // namespace

TEST(SelfTest, CleanInstallationPassesEveryGroupWithItsCount) {
    Installation at(true);
    const std::vector<GroupResult> groups = runGroups(at);
    ASSERT_EQ(groups.size(), std::size(kChecksPerGroup));
    for (size_t i = 0; i < groups.size(); ++i) {
        EXPECT_EQ(groups[i].tally.checks, kChecksPerGroup[i]) << groups[i].name;
        EXPECT_EQ(groups[i].tally.failures, 0u) << groups[i].name;
    }
    EXPECT_EQ(namesIn(at.root / L"reports"), std::vector<std::wstring>{});

    const auto started = std::chrono::steady_clock::now();
    const double cpuBefore = processCpuMs();
    EXPECT_EQ(runSelfTestWith(at.inputs()), 0);
    const auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
    std::cout << "self-test run: " << took.count() << " ms, CPU " << processCpuMs() - cpuBefore << " ms\n";

    EXPECT_EQ(namesIn(at.root / L"reports"), std::vector<std::wstring>{L"self-test.json"});
    const nlohmann::json report =
        nlohmann::json::parse(readBytes(at.root / L"reports\\self-test.json"), nullptr, false);
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report.value("status", ""), "PASS");
    EXPECT_EQ(report.value("checks", 0u), 340u);
    EXPECT_EQ(report.value("failures", 1u), 0u);
    EXPECT_EQ(report.value("scene_resource_loaded", false), true);
}

TEST(SelfTest, WithoutPicturesTheCarouselChecksFailAndNothingElse) {
    Installation at(false);
    ASSERT_EQ(at.scenes.scenes.size(), 1u); // the built-in picture
    const std::vector<GroupResult> groups = runGroups(at);
    // The three carousel buttons at 20 sizes; the two loads of the standard pictures (the built-in
    // fallback itself passes); and in the carousel's timing at least the ten checks that need more
    // than one scene (count, autoplay, fade progress twice, three steps, showing scene 2, resuming).
    const uint32_t expected[] = {0, 0, 60, 0, 2, 0, 0};
    for (size_t i = 0; i < groups.size(); ++i) {
        EXPECT_EQ(groups[i].tally.checks, kChecksPerGroup[i]) << groups[i].name;
        if (i == 3)
            EXPECT_GE(groups[i].tally.failures, 10u) << groups[i].name;
        else
            EXPECT_EQ(groups[i].tally.failures, expected[i]) << groups[i].name;
    }
}

TEST(SelfTest, LinkingScreenChecksPutTheWindowStateBack) {
    Installation at(true);
    struct Case {
        Screen screen;
        bool linkingEnabled;
    };
    const Case cases[] = {{Home, false}, {News, true}, {Linking, false}, {Community, true}};
    for (const Case& c : cases) {
        at.ui.screen = c.screen;
        at.ui.linkingEnabled = c.linkingEnabled;
        SelfTestTally tally;
        checkHitTargets(tally, at.ui, at.scenes.scenes.size());
        EXPECT_EQ(at.ui.screen, c.screen);
        EXPECT_EQ(at.ui.linkingEnabled, c.linkingEnabled);
    }
}

TEST(SelfTest, ReportLineKeyByKey) {
    struct Case {
        SelfTestTally tally;
        bool sceneLoaded;
        const char* status;
    };
    const Case cases[] = {
        {{340, 0}, true, "PASS"}, {{328, 1}, true, "FAIL"}, {{339, 4000000000u}, false, "FAIL"}};
    const char* const alwaysFalse[] = {"gui_started", "steam_started", "game_started", "server_contacted",
                                       "actual_user_configuration_modified"};
    const char* const alwaysTrue[] = {
        "configuration_round_trip_tested", "atomic_replacement_and_busy_refusal_tested",
        "carousel_autoplay_crossfade_wrap_pause_and_fallback_tested", "compact_layout_hit_targets_tested"};
    for (const Case& c : cases) {
        const std::string line = selfTestReportLine(c.tally, c.sceneLoaded);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
        const nlohmann::json report = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(report.is_object()) << line;
        EXPECT_EQ(report.size(), 13u);
        EXPECT_EQ(report.value("status", ""), c.status);
        EXPECT_EQ(report.value("checks", 0u), c.tally.checks);
        EXPECT_EQ(report.value("failures", 0u), c.tally.failures);
        EXPECT_EQ(report.value("scene_resource_loaded", !c.sceneLoaded), c.sceneLoaded);
        for (const char* key : alwaysFalse)
            EXPECT_EQ(report.value(key, true), false) << key;
        for (const char* key : alwaysTrue)
            EXPECT_EQ(report.value(key, false), true) << key;
    }
}

TEST(SelfTest, ARunLeavesItsOwnVerdictOrNoReportNeverAnOlderOne) {
    // An older report says PASS. The run's report replaces it; a pending report an interrupted run
    // left is no obstacle; when the report cannot be written (its pending name is taken by a folder)
    // no report is left. The exit code is the verdict either way.
    enum Pending { NoPending, InterruptedRun, Folder };
    struct Case {
        bool pictures;
        Pending pending;
        int exitCode;
        const char* status; // nullptr: no report
    };
    const Case cases[] = {
        {true, NoPending, 0, "PASS"}, {false, NoPending, 1, "FAIL"}, {true, InterruptedRun, 0, "PASS"},
        {true, Folder, 0, nullptr},   {false, Folder, 1, nullptr},
    };
    const std::string olderPass = selfTestReportLine({340, 0}, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pictures " << c.pictures << ", pending " << c.pending);
        Installation at(c.pictures);
        const std::wstring report = at.root / L"reports\\self-test.json";
        const std::wstring pending = report + L".pending";
        ASSERT_TRUE(writeBytes(report, olderPass));
        if (c.pending == InterruptedRun) {
            ASSERT_TRUE(writeBytes(pending, "{\"status\":\"PA"));
        }
        if (c.pending == Folder) {
            ASSERT_TRUE(CreateDirectoryW(pending.c_str(), nullptr));
        }

        EXPECT_EQ(runSelfTestWith(at.inputs()), c.exitCode);
        if (c.status == nullptr) {
            EXPECT_FALSE(exists(report));
            EXPECT_TRUE(GetFileAttributesW(pending.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
            continue;
        }
        const nlohmann::json written = nlohmann::json::parse(readBytes(report), nullptr, false);
        ASSERT_TRUE(written.is_object());
        EXPECT_EQ(written.value("status", ""), c.status);
        EXPECT_EQ(namesIn(at.root / L"reports"), std::vector<std::wstring>{L"self-test.json"});
    }
}
