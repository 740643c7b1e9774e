// The diagnostic modes' report line and their self-click on the Steam button.
#include "app/diagnostics.h"
#include "app/text.h"
#include "link_test_support.h"
#include "render/hit_geometry.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(DiagnosticRecord, ExactLineForAKnownState) {
    UiState ui;
    ui.linkClicks = 3;
    ui.lastControl = LinkSteamButton;
    ui.lastLinkQueued = true;
    ui.lastBrowserResult = -5000000000LL;
    ui.lastMouseX = -4;
    ui.lastMouseY = 201;
    LinkState link;
    link.configLoaded = true;
    link.linkPending = true;
    link.message = L"Error";
    EXPECT_EQ(diagnosticRecord(DiagnosticStage::ServiceUpdate, ui, link, {true, false}),
              "{\"stage\":\"service_update\",\"clicks\":3,\"control\":60,\"queued\":true,\"configured\":true,"
              "\"loading\":false,\"pending\":true,\"service_error\":true,\"browser_result\":-5000000000,"
              "\"window_enabled\":true,\"window_visible\":false,\"settings_open\":false,\"mouse_x\":-4,"
              "\"mouse_y\":201,\"credentials_logged\":false}\n");
}

TEST(DiagnosticRecord, EachFlagComesFromItsOwnField) {
    struct Case {
        bool configLoaded, busy, linkPending;
        const wchar_t* message;
        const char* expected;
    };
    const Case cases[] = {
        {false, false, true, L"",
         "\"configured\":false,\"loading\":false,\"pending\":true,\"service_error\":false,"},
        {false, false, false, L"Error",
         "\"configured\":false,\"loading\":false,\"pending\":false,\"service_error\":true,"},
        {true, false, false, L"",
         "\"configured\":true,\"loading\":false,\"pending\":false,\"service_error\":false,"},
        {false, true, false, L"",
         "\"configured\":false,\"loading\":true,\"pending\":false,\"service_error\":false,"},
    };
    const UiState ui;
    for (const Case& c : cases) {
        LinkState link;
        link.configLoaded = c.configLoaded;
        link.busy = c.busy;
        link.linkPending = c.linkPending;
        link.message = c.message;
        const std::string line = diagnosticRecord(DiagnosticStage::ServiceUpdate, ui, link, {});
        EXPECT_NE(line.find(c.expected), std::string::npos) << line;
    }
}

TEST(DiagnosticRecord, StageNamesAndExtremes) {
    const std::pair<DiagnosticStage, const char*> stages[] = {
        {DiagnosticStage::Startup, "startup"},
        {DiagnosticStage::WindowOpen, "window_open"},
        {DiagnosticStage::MouseUp, "mouse_up"},
        {DiagnosticStage::LinkClick, "link_click"},
        {DiagnosticStage::ServiceUpdate, "service_update"},
        {DiagnosticStage::BrowserOpen, "browser_open"},
    };
    UiState ui;
    ui.linkClicks = 4294967295u;
    ui.lastBrowserResult = INT64_MIN;
    ui.lastMouseX = INT32_MIN;
    ui.lastMouseY = INT32_MAX;
    ui.lastControl = static_cast<HitTarget>(INT32_MIN);
    const LinkState link;
    for (auto [stage, name] : stages) {
        const std::string line = diagnosticRecord(stage, ui, link, {});
        EXPECT_EQ(line.rfind("{\"stage\":\"" + std::string(name) + "\",\"clicks\":4294967295,", 0), 0u)
            << line;
        EXPECT_NE(line.find("\"browser_result\":-9223372036854775808,"), std::string::npos) << line;
        EXPECT_NE(line.find("\"mouse_x\":-2147483648,\"mouse_y\":2147483647,"), std::string::npos) << line;
        EXPECT_NE(line.find("\"window_enabled\":false,\"window_visible\":false,\"settings_open\":false"),
                  std::string::npos);
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1);
    }
}

TEST(DiagnosticRecord, NeverCarriesNamesUrlsOrMessages) {
    // Every text of the snapshot, and the window's own status lines, hold "sentinel".
    const LinkState link = sentinelLinkState();
    UiState ui;
    copyText(ui.statusText, L"sentinel status");
    copyText(ui.playStatusText, L"sentinel play");
    const std::string line = diagnosticRecord(DiagnosticStage::BrowserOpen, ui, link, {true, true});
    for (const char* secret : {"sentinel", "https"})
        EXPECT_EQ(line.find(secret), std::string::npos) << secret << " in " << line;
    EXPECT_NE(line.find("\"service_error\":true"), std::string::npos);
    EXPECT_NE(line.find("\"credentials_logged\":false}"), std::string::npos);
}

TEST(DiagnosticReport, ReplacesTheFileAndNeverCreatesTheFolder) {
    TempFolder program;
    const std::wstring path = diagnosticReportPath(program.path);
    EXPECT_EQ(path, program.path + L"\\reports\\link-click.json");
    EXPECT_FALSE(writeDiagnosticReport(path, "{\"stage\":\"startup\"}\n"));
    EXPECT_FALSE(exists(program / L"reports"));

    ASSERT_TRUE(CreateDirectoryW((program / L"reports").c_str(), nullptr));
    EXPECT_TRUE(writeDiagnosticReport(path, "{\"stage\":\"startup\",\"clicks\":0}\n"));
    EXPECT_TRUE(writeDiagnosticReport(path, "{\"stage\":\"window_open\"}\n"));
    EXPECT_EQ(readBytes(path), "{\"stage\":\"window_open\"}\n");
    // An empty record (the line did not form) leaves the last one in place.
    EXPECT_FALSE(writeDiagnosticReport(path, ""));
    EXPECT_EQ(readBytes(path), "{\"stage\":\"window_open\"}\n");
}

TEST(SyntheticClick, DueOnceTheServiceIsReadyForIt) {
    struct Case {
        bool testSteamClick, done, configLoaded, busy, steamLinked, due;
    };
    const Case cases[] = {
        {true, false, true, false, false, true}, {false, false, true, false, false, false},
        {true, true, true, false, false, false}, {true, false, false, false, false, false},
        {true, false, true, true, false, false}, {true, false, true, false, true, false},
    };
    for (const Case& c : cases) {
        UiState ui;
        ui.testSteamClick = c.testSteamClick;
        ui.autoClickDone = c.done;
        LinkState link;
        link.configLoaded = c.configLoaded;
        link.busy = c.busy;
        link.steamLinked = c.steamLinked;
        EXPECT_EQ(syntheticClickDue(ui, link), c.due)
            << c.testSteamClick << c.done << c.configLoaded << c.busy << c.steamLinked;
    }
}

TEST(SyntheticClick, LandsOnTheSteamButtonAtAnyClientSize) {
    struct Case {
        int w, h, x, y;
    };
    // x = ((W - 700) / 2 + 568) * s, y = ((H - 464) / 2 + 201) * s, truncated.
    const Case cases[] = {
        {1414, 884, 925, 411}, {960, 640, 698, 289},  {1920, 1080, 1178, 509},
        {800, 540, 581, 244},  {1326, 688, 881, 313},
    };
    for (const Case& c : cases) {
        const ClientPoint p = syntheticClickPoint(c.w, c.h);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h;
        EXPECT_EQ(
            hitTest(static_cast<float>(p.x), static_cast<float>(p.y), c.w, c.h, {Linking, 3, true, false}),
            LinkSteamButton)
            << c.w << "x" << c.h;
    }
}

TEST(SyntheticClick, LandsOnTheSteamButtonWhereTheWindowDrawsItAtItsDpi) {
    struct Case {
        int w, h;
        float factor;
        int x, y;
    };
    // The 96 DPI point times the factor while the canvas is as large as at 96 DPI; a smaller client
    // scales it less.
    const Case cases[] = {
        {2840, 1780, 2.0f, 1856, 828}, {2130, 1335, 1.5f, 1392, 621}, {1920, 1280, 2.0f, 1396, 578},
        {1420, 890, 2.0f, 1013, 401},  {1420, 890, 1.0f, 928, 414},
    };
    for (const Case& c : cases) {
        const ClientPoint p = syntheticClickPoint(c.w, c.h, c.factor);
        EXPECT_EQ(p.x, c.x) << c.w << "x" << c.h << " at " << c.factor;
        EXPECT_EQ(p.y, c.y) << c.w << "x" << c.h << " at " << c.factor;
        EXPECT_EQ(hitTest(static_cast<float>(p.x), static_cast<float>(p.y), c.w, c.h,
                          {Linking, 3, true, false}, c.factor),
                  LinkSteamButton)
            << c.w << "x" << c.h << " at " << c.factor;
    }
}
