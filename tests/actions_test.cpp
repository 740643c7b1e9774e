// What the controls do, decided on plain records with a fake shell and link service.
#include "action_bench.h"
#include "app/text.h"
#include "link/link_service.h"

#include <gtest/gtest.h>

#include <string>

using namespace actionbench;

namespace {

const std::wstring kConnectSent = L"Solicitud de conexión enviada a Steam.";
const std::wstring kLaunchSent = L"Solicitud de apertura enviada a Steam.";
const std::wstring kSteamFailed = L"No se pudo abrir Steam. Comprueba su instalación.";
const std::wstring kServerUnavailable =
    L"La conexión del servidor no está disponible. Vuelve a intentarlo más tarde.";
const std::wstring kPreparing = L"Preparando la pantalla oficial de autorización…";
const std::wstring kSteamFirst = L"Vincula primero Steam. Discord se habilita al terminar.";
const std::wstring kCouldNotStart =
    L"La vinculación no pudo empezar. Pulsa Reintentar y vuelve a intentarlo.";
const std::wstring kDiscordNotConfigured = L"El administrador aún no ha configurado Discord";

} // namespace

TEST(PlayGame, Outcomes) {
    struct Case {
        const char* name;
        bool linking, configLoaded, ready;
        const wchar_t* serviceAddress; // LinkState.serverAddress
        const wchar_t* configServer;   // LauncherConfig.server
        int64_t shellResult;
        const wchar_t* opened; // null: nothing opened
        std::wstring text;
        uint32_t posted; // 0: nothing posted
    };
    const std::wstring earlier = L"texto anterior";
    const Case cases[] = {
        {"service address, no configured server", true, true, true, L"127.0.0.1:27015", L"", 42,
         L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/", kLaunchSent, 0},
        {"service address, configured server", true, true, true, L"127.0.0.1:27015", L"127.0.0.1:27015", 42,
         L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/", kConnectSent, 0},
        {"no service address, server from an earlier configuration", true, true, true, L"", L"1.2.3.4:27015",
         33, L"steam://run/4000", kConnectSent, 0},
        {"no address at all", true, true, true, L"", L"", 33, L"steam://run/4000", kLaunchSent, 0},
        {"shell result 32 is a failure", true, true, true, L"", L"1.2.3.4", 32, L"steam://run/4000",
         kSteamFailed, 0},
        {"shell result 0", true, true, true, L"1.2.3.4", L"", 0, L"steam://run/4000//%2Bconnect%201.2.3.4/",
         kSteamFailed, 0},
        {"unusable service address", true, true, true, L"abc;quit", L"1.2.3.4", 42, nullptr,
         kServerUnavailable, Retry},
        {"without linking the configured server is used", false, false, false, L"9.9.9.9", L"1.2.3.4:27015",
         42, L"steam://run/4000//%2Bconnect%201.2.3.4%3A27015/", kConnectSent, 0},
        {"without linking an unusable server asks nothing of the service", false, false, false, L"",
         L"abc +quit", 42, nullptr, kServerUnavailable, 0},
    };
    for (const Case& c : cases) {
        Bench b;
        b.ui.linkingEnabled = c.linking;
        b.ui.screen = Home;
        b.ui.focus = PlayButton;
        copyText(b.ui.playStatusText, earlier.c_str());
        b.link.configLoaded = c.configLoaded;
        b.link.ready = c.ready;
        b.link.serverAddress = c.serviceAddress;
        copyText(b.config.server, c.configServer);
        b.port.shellResult = c.shellResult;

        const ActionOutcome outcome = b.press(PlayButton);
        EXPECT_TRUE(outcome.repaint) << c.name;
        EXPECT_EQ(outcome.command, WindowCommand::None) << c.name;
        EXPECT_EQ(b.ui.screen, Home) << c.name;
        ASSERT_EQ(b.port.opened.size(), c.opened ? 1u : 0u) << c.name;
        if (c.opened) {
            EXPECT_EQ(b.port.opened[0], c.opened) << c.name;
        }
        EXPECT_EQ(std::wstring(b.ui.playStatusText), c.text) << c.name;
        EXPECT_EQ(b.port.posts, c.posted ? std::vector<uint32_t>{c.posted} : std::vector<uint32_t>{})
            << c.name;
        EXPECT_EQ(b.port.refreshes, 0) << c.name;
    }
}

TEST(PlayGame, BeforeLinkingIsDoneShowsTheLinkingScreen) {
    for (auto [configLoaded, ready] :
         {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
        Bench b;
        b.ui.screen = Home;
        b.ui.focus = PlayButton;
        copyText(b.ui.playStatusText, L"texto anterior");
        b.link.configLoaded = configLoaded;
        b.link.ready = ready;
        b.link.serverAddress = L"127.0.0.1:27015";
        EXPECT_TRUE(b.press(PlayButton).repaint);
        EXPECT_EQ(b.ui.screen, Linking);
        EXPECT_EQ(b.ui.focus, LinkSteamButton);
        EXPECT_EQ(b.port.refreshes, 1);
        EXPECT_TRUE(b.port.opened.empty());
        EXPECT_TRUE(b.port.posts.empty());
        EXPECT_STREQ(b.ui.playStatusText, L"texto anterior");
    }
}

TEST(Activate, Dispatch) {
    struct Case {
        HitTarget control;
        bool ready, maximised;
        Screen screen; // from Linking with focus on the Steam button
        HitTarget focus;
        WindowCommand command;
        bool repaint;
        int refreshes;
        std::vector<uint32_t> posts;
    };
    const Case cases[] = {
        {TabHome, false, false, Home, LinkSteamButton, WindowCommand::None, true, 0, {}},
        {TabNews, false, false, News, LinkSteamButton, WindowCommand::None, true, 0, {}},
        {TabCommunity, false, false, Community, LinkSteamButton, WindowCommand::None, true, 0, {}},
        {MinimizeButton, false, false, Linking, LinkSteamButton, WindowCommand::Minimise, true, 0, {}},
        {MaximizeButton, false, false, Linking, LinkSteamButton, WindowCommand::Maximise, true, 0, {}},
        {MaximizeButton, false, true, Linking, LinkSteamButton, WindowCommand::Restore, true, 0, {}},
        {CloseButton, false, false, Linking, LinkSteamButton, WindowCommand::Close, false, 0, {}},
        {ContinueButton, false, false, Linking, LinkSteamButton, WindowCommand::None, true, 0, {}},
        {ContinueButton, true, false, Home, PlayButton, WindowCommand::None, true, 0, {}},
        {RetryButton, false, false, Linking, LinkSteamButton, WindowCommand::None, true, 0, {Retry}},
        {None, false, false, Linking, LinkSteamButton, WindowCommand::None, true, 0, {}},
        {static_cast<HitTarget>(21),
         false,
         false,
         Linking,
         LinkSteamButton,
         WindowCommand::None,
         true,
         0,
         {}},
    };
    for (const Case& c : cases) {
        Bench b;
        b.link.ready = c.ready;
        b.maximised = c.maximised;
        const ActionOutcome outcome = b.press(c.control);
        EXPECT_EQ(b.ui.screen, c.screen) << c.control;
        EXPECT_EQ(b.ui.focus, c.focus) << c.control;
        EXPECT_EQ(outcome.command, c.command) << c.control;
        EXPECT_EQ(outcome.repaint, c.repaint) << c.control;
        EXPECT_EQ(b.port.refreshes, c.refreshes) << c.control;
        EXPECT_EQ(b.port.posts, c.posts) << c.control;
        EXPECT_TRUE(b.port.opened.empty()) << c.control;
    }
}

TEST(Activate, AccountsButtonOpensTheLinkingScreenAndAsksForFreshStatus) {
    Bench b;
    b.ui.screen = News;
    b.ui.focus = TabNews;
    EXPECT_TRUE(b.press(AccountsButton).repaint);
    EXPECT_EQ(b.ui.screen, Linking);
    EXPECT_EQ(b.ui.focus, LinkSteamButton);
    EXPECT_EQ(b.port.refreshes, 1);
}

TEST(Activate, RetryClearsTheLocalErrorEvenWhenTheServiceIsNotRunning) {
    Bench b;
    copyText(b.ui.statusText, L"algo falló");
    b.ui.statusIsError = b.ui.awaitingBrowser = true;
    b.port.accepts = false;
    b.press(RetryButton);
    EXPECT_STREQ(b.ui.statusText, L"");
    EXPECT_FALSE(b.ui.statusIsError);
    EXPECT_FALSE(b.ui.awaitingBrowser);
    EXPECT_EQ(b.port.posts, std::vector<uint32_t>{Retry});
}

// "CERRAR SESIÓN": a first press arms it, a second one within 5 s posts the logout; later, or once
// nothing is linked any more, the label goes back and the next press only arms it again.
TEST(SignOut, ConfirmationTiming) {
    struct Case {
        const char* what;
        uint64_t secondPressAfter;
        bool posted;
    };
    const Case cases[] = {
        {"at once", 0, true},
        {"just inside", kSignOutConfirmMs - 1, true},
        {"when the time is up", kSignOutConfirmMs, false},
        {"a minute later", 60000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.readyToPlay();
        b.now = 100000;
        EXPECT_TRUE(b.press(SignOutButton).repaint);
        EXPECT_TRUE(b.ui.signOutArmed);
        EXPECT_TRUE(b.port.posts.empty());
        b.now += c.secondPressAfter;
        b.press(SignOutButton);
        EXPECT_EQ(b.port.posts, c.posted ? std::vector<uint32_t>{Logout} : std::vector<uint32_t>{});
        // Signing out disarms; a late press arms it afresh from its own moment.
        EXPECT_EQ(b.ui.signOutArmed, !c.posted);
        if (!c.posted) {
            EXPECT_EQ(b.ui.signOutArmedAt, b.now);
        }
    }
}

TEST(SignOut, ThePumpDisarmsOnTimeOrWhenNothingIsLinked) {
    struct Case {
        const char* what;
        uint64_t pumpAfter;
        bool linked;
        bool armed, repaint;
    };
    const Case cases[] = {
        {"still waiting", kSignOutConfirmMs - 1, true, true, false},
        {"time is up", kSignOutConfirmMs, true, false, true},
        {"signed out elsewhere", 10, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.connected();
        b.link.steamLinked = true;
        b.press(SignOutButton);
        b.link.steamLinked = c.linked;
        b.now += c.pumpAfter;
        EXPECT_EQ(b.pump(LinkPull{}).repaint, c.repaint);
        EXPECT_EQ(b.ui.signOutArmed, c.armed);
    }
}

// A minimised window wakes only when told to: the pump it runs then must be the one that disarms, and
// one a moment earlier must not.
TEST(SignOut, DisarmIsDueExactlyWhenThePumpDisarms) {
    struct Case {
        const char* what;
        bool armed;
        int64_t armedAgo; // negative: the clock went back since
        uint64_t due;
    };
    const Case cases[] = {
        {"not armed", false, 0, 0},
        {"armed now", true, 0, kSignOutConfirmMs},
        {"a moment left", true, kSignOutConfirmMs - 1, 1},
        {"over, not yet disarmed", true, kSignOutConfirmMs + 60000, 1},
        {"clock went back", true, -50, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.connected();
        b.link.steamLinked = true;
        b.now = 100000;
        if (c.armed)
            b.press(SignOutButton);
        ASSERT_EQ(b.ui.signOutArmed, c.armed);
        b.now += c.armedAgo;
        const uint64_t due = signOutDisarmDueMs(b.ui, b.now);
        EXPECT_EQ(due, c.due);
        if (!c.armed)
            continue;
        if (due > 1) {
            b.now += due - 1;
            b.pump(LinkPull{});
            EXPECT_TRUE(b.ui.signOutArmed);
            b.now += 1;
        } else {
            b.now += due;
        }
        b.pump(LinkPull{});
        EXPECT_FALSE(b.ui.signOutArmed);
        EXPECT_EQ(signOutDisarmDueMs(b.ui, b.now), 0u);
    }
}

TEST(SignOut, PressesThatSignNobodyOut) {
    // Nothing linked: the control is not there, and a stale focus on it does nothing.
    Bench b;
    b.connected();
    b.press(SignOutButton);
    b.press(SignOutButton);
    EXPECT_FALSE(b.ui.signOutArmed);
    EXPECT_TRUE(b.port.posts.empty());

    // The service refuses the request (stopped): the player reads why, with the retry link.
    Bench refused;
    refused.readyToPlay();
    refused.port.accepts = false;
    refused.press(SignOutButton);
    refused.press(SignOutButton);
    EXPECT_EQ(refused.port.posts, std::vector<uint32_t>{Logout});
    EXPECT_TRUE(refused.ui.statusIsError);
    EXPECT_STREQ(refused.ui.statusText, L"No se pudo cerrar la sesión. Pulsa Reintentar.");
}

TEST(SignOut, FocusLeavesTheControlOnceSignedOut) {
    // Steam alone linked, so the screen's readiness is not what moves the focus.
    Bench b;
    b.connected();
    b.link.steamLinked = true;
    b.ui.focus = SignOutButton;
    b.link.steamLinked = false;
    LinkPull pull;
    pull.changed = true;
    b.pump(pull);
    EXPECT_EQ(b.ui.focus, LinkSteamButton);
    EXPECT_EQ(b.ui.screen, Linking);
}

TEST(Activate, CarouselControlsAndDotsBeyondTheLoadedScenes) {
    Bench b;
    b.scenes.scenes.resize(3); // timing needs only the count
    b.scenes.clock = b.scenes.currentShownAt = b.scenes.lastAdvanceAt = 1000;
    b.press(SceneDot3); // only three scenes
    EXPECT_EQ(b.scenes.current, 0u);
    EXPECT_FALSE(b.scenes.fading);
    b.press(SceneDot2);
    EXPECT_EQ(b.scenes.current, 2u);
    b.press(PauseButton);
    EXPECT_TRUE(b.scenes.paused);
    b.press(NextSceneButton); // paused: steps at once, wrapping
    EXPECT_EQ(b.scenes.current, 0u);
    b.press(PreviousSceneButton);
    EXPECT_EQ(b.scenes.current, 2u);
}

TEST(LinkClick, RefusalsAndAcceptance) {
    struct Case {
        const char* name;
        HitTarget control;
        bool awaiting, configLoaded, busy, steamLinked, discordEnabled, discordLinked;
        bool serviceAccepts;
        bool asksService;
        uint32_t posted;
        bool queued;
        std::wstring text;
    };
    const Case cases[] = {
        {"steam accepted", LinkSteamButton, false, true, false, false, true, false, true, true, LinkSteam,
         true, kPreparing},
        {"steam refused by the service", LinkSteamButton, false, true, false, false, true, false, false, true,
         LinkSteam, false, kCouldNotStart},
        {"steam already linked", LinkSteamButton, false, true, false, true, true, false, true, false, 0,
         false, kCouldNotStart},
        {"steam while a click is in flight", LinkSteamButton, true, true, false, false, true, false, true,
         false, 0, false, kCouldNotStart},
        {"steam without configuration", LinkSteamButton, false, false, false, false, true, false, true, false,
         0, false, kCouldNotStart},
        {"steam while busy", LinkSteamButton, false, true, true, false, true, false, true, false, 0, false,
         kCouldNotStart},
        {"discord before steam", LinkDiscordButton, false, true, false, false, true, false, true, false, 0,
         false, kSteamFirst},
        {"discord before steam and without configuration", LinkDiscordButton, false, false, false, false,
         false, false, true, false, 0, false, kSteamFirst},
        {"discord not enabled: retrying cannot help", LinkDiscordButton, false, true, false, true, false,
         false, true, false, 0, false, kDiscordNotConfigured},
        {"discord not enabled while busy", LinkDiscordButton, false, true, true, true, false, false, true,
         false, 0, false, kDiscordNotConfigured},
        {"discord without configuration", LinkDiscordButton, false, false, false, true, false, false, true,
         false, 0, false, kCouldNotStart},
        {"discord already linked", LinkDiscordButton, false, true, false, true, true, true, true, false, 0,
         false, kCouldNotStart},
        {"discord accepted", LinkDiscordButton, false, true, false, true, true, false, true, true,
         LinkDiscord, true, kPreparing},
    };
    for (const Case& c : cases) {
        Bench b;
        b.ui.awaitingBrowser = c.awaiting;
        b.ui.statusIsError = c.queued; // every click sets it anew
        b.link.configLoaded = c.configLoaded;
        b.link.busy = c.busy;
        b.link.steamLinked = c.steamLinked;
        b.link.discordEnabled = c.discordEnabled;
        b.link.discordLinked = c.discordLinked;
        b.port.accepts = c.serviceAccepts;

        EXPECT_TRUE(b.press(c.control).repaint) << c.name;
        EXPECT_EQ(b.port.posts, c.asksService ? std::vector<uint32_t>{c.posted} : std::vector<uint32_t>{})
            << c.name;
        EXPECT_EQ(b.ui.linkClicks, 1u) << c.name;
        EXPECT_EQ(b.ui.lastControl, c.control) << c.name;
        EXPECT_EQ(b.ui.lastLinkQueued, c.queued) << c.name;
        EXPECT_EQ(b.ui.awaitingBrowser, c.queued) << c.name;
        EXPECT_EQ(b.ui.statusIsError, !c.queued) << c.name;
        EXPECT_EQ(std::wstring(b.ui.statusText), c.text) << c.name;
        ASSERT_EQ(b.port.diagnosed.size(), 1u) << c.name;
        EXPECT_EQ(b.port.diagnosed[0].stage, DiagnosticStage::LinkClick) << c.name;
        EXPECT_EQ(b.port.diagnosed[0].clicks, 1u) << c.name;
        EXPECT_EQ(b.port.diagnosed[0].queued, c.queued) << c.name;
        EXPECT_EQ(b.ui.screen, Linking) << c.name;
    }
}

TEST(LinkClick, ASecondClickInFlightIsRefusedAndTheThirdReachesTheServiceAgain) {
    Bench b;
    b.connected();
    b.press(LinkSteamButton);
    EXPECT_TRUE(b.ui.awaitingBrowser);
    b.press(LinkSteamButton);
    EXPECT_EQ(b.ui.linkClicks, 2u);
    EXPECT_FALSE(b.ui.awaitingBrowser);
    EXPECT_FALSE(b.ui.lastLinkQueued);
    EXPECT_TRUE(b.ui.statusIsError);
    EXPECT_EQ(std::wstring(b.ui.statusText), kCouldNotStart);
    EXPECT_EQ(b.port.posts, std::vector<uint32_t>{LinkSteam});
    b.press(LinkSteamButton);
    EXPECT_EQ(b.port.posts, (std::vector<uint32_t>{LinkSteam, LinkSteam}));
    EXPECT_EQ(std::wstring(b.ui.statusText), kPreparing);
    EXPECT_FALSE(b.ui.statusIsError);
}

TEST(CommunityLink, OnlyACheckedUrlReachesTheShell) {
    const std::wstring head = L"https://";
    struct Case {
        std::wstring url;
        bool opens;
    };
    const Case cases[] = {
        {head + std::wstring(509 - head.size(), L'a'), true},
        {head + std::wstring(510 - head.size(), L'a'), false},
        {L"https://orvane.example/foro", true},
        {L"https://user@orvane.example/", false},
        {L"https://orvane.example/a b", false},
        {L"http://orvane.example/", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        Bench b;
        b.ui.screen = Home;
        b.ui.focus = CommunityButton;
        copyText(b.config.community, c.url.c_str());
        b.port.shellResult = 2; // ignored either way
        EXPECT_TRUE(b.press(CommunityButton).repaint) << c.url.size();
        EXPECT_EQ(b.port.opened, c.opens ? std::vector<std::wstring>{c.url} : std::vector<std::wstring>{})
            << c.url.size();
        EXPECT_EQ(b.ui.screen, c.opens ? Home : Community) << c.url.size();
        EXPECT_EQ(b.ui.focus, c.opens ? CommunityButton : TabCommunity) << c.url.size();
        EXPECT_STREQ(b.ui.playStatusText, L"");
        EXPECT_STREQ(b.ui.statusText, L"");
    }
}
