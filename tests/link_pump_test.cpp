// The UI side of the link service, one tick at a time, on plain records.
#include "action_bench.h"
#include "app/text.h"
#include "link/link_service.h"
#include "render/screen_texts.h"

#include <gtest/gtest.h>

#include <string>

using namespace actionbench;

namespace {

const std::wstring kBrowserFailed =
    L"Windows no ha podido abrir el navegador. Revisa tu navegador predeterminado y pulsa Vincular.";
const std::wstring kBrowserOpened = L"Completa la autorización en tu navegador.";

LinkPull changed(bool wasReady = false) {
    LinkPull pull;
    pull.changed = true;
    pull.wasReady = wasReady;
    return pull;
}

void configure(LauncherConfig& config) {
    copyText(config.server, L"1.2.3.4:27015");
    copyText(config.community, L"https://antes.example/");
    copyText(config.news_title, L"Título anterior");
    copyText(config.news_body, L"Cuerpo anterior");
}

} // namespace

TEST(LinkPump, CopiesTheServiceConfiguration) {
    struct Case {
        const char* name;
        bool configLoaded;
        const wchar_t* serverAddress;
        const wchar_t* community;
        const wchar_t* server;         // LauncherConfig.server afterwards
        const wchar_t* communityAfter; // LauncherConfig.community afterwards
        const wchar_t* titleAfter;
    };
    const Case cases[] = {
        {"usable address", true, L"5.6.7.8:27016", L"https://orvane.example/", L"5.6.7.8:27016",
         L"https://orvane.example/", L"Nuevo"},
        {"an address the window refuses clears the server", true, L"[::1]:27015", L"https://orvane.example/",
         L"", L"https://orvane.example/", L"Nuevo"},
        {"empty address and empty community replace theirs", true, L"", L"", L"", L"", L"Nuevo"},
        {"no configuration: nothing copied", false, L"5.6.7.8:27016", L"https://orvane.example/",
         L"1.2.3.4:27015", L"https://antes.example/", L"Título anterior"},
    };
    for (const Case& c : cases) {
        Bench b;
        configure(b.config);
        b.link.configLoaded = c.configLoaded;
        b.link.serverAddress = c.serverAddress;
        b.link.communityUrl = c.community;
        b.link.newsTitle = L"Nuevo";
        EXPECT_TRUE(b.pump(changed()).repaint) << c.name;
        EXPECT_STREQ(b.config.server, c.server) << c.name;
        EXPECT_STREQ(b.config.community, c.communityAfter) << c.name;
        EXPECT_STREQ(b.config.news_title, c.titleAfter) << c.name;
        EXPECT_STREQ(b.config.news_body, c.configLoaded ? L"" : L"Cuerpo anterior") << c.name;
    }
}

TEST(LinkPump, LongServiceTextsAreCutToTheirFields) {
    Bench b;
    b.link.configLoaded = true;
    b.link.communityUrl = std::wstring(600, L'c');
    b.link.newsTitle = std::wstring(300, L't');
    b.link.newsBody = std::wstring(5000, L'b');
    b.pump(changed());
    EXPECT_EQ(std::wstring(b.config.community), std::wstring(511, L'c'));
    EXPECT_EQ(std::wstring(b.config.news_title), std::wstring(159, L't'));
    EXPECT_EQ(std::wstring(b.config.news_body), std::wstring(1199, L'b'));
}

TEST(LinkPump, AnUnchangedSnapshotAsksForNothing) {
    Bench b;
    configure(b.config);
    b.link.configLoaded = true;
    b.link.serverAddress = L"5.6.7.8";
    b.link.busy = true;
    b.ui.awaitingBrowser = true;
    const ActionOutcome outcome = b.pump(LinkPull{});
    EXPECT_FALSE(outcome.repaint);
    EXPECT_STREQ(b.config.server, L"1.2.3.4:27015");
    EXPECT_TRUE(b.ui.awaitingBrowser);
    EXPECT_TRUE(b.port.diagnosed.empty());
    EXPECT_TRUE(b.port.opened.empty());
}

TEST(LinkPump, FollowsTheLinkingState) {
    struct Case {
        const char* name;
        bool wasReady, ready, busy, pending;
        const wchar_t* message;
        Screen screen;
        HitTarget focus;
        bool awaitingAfter;
        bool serviceUpdate;
        const wchar_t* statusAfter;
        bool errorAfter;
    };
    const Case cases[] = {
        {"ready lost", true, false, false, false, L"", Linking, LinkSteamButton, true, false, L"estado",
         true},
        {"still ready", true, true, false, false, L"", Home, PlayButton, false, false, L"", false},
        {"became ready", false, true, false, false, L"", Home, PlayButton, false, false, L"", false},
        {"busy", false, false, true, false, L"", Home, PlayButton, false, true, L"estado", true},
        {"pending", false, false, false, true, L"", Home, PlayButton, false, true, L"estado", true},
        {"service message", false, false, false, false, L"El servicio falló", Home, PlayButton, false, true,
         L"estado", true},
        {"quiet change", false, false, false, false, L"", Home, PlayButton, true, false, L"estado", true},
    };
    for (const Case& c : cases) {
        Bench b;
        b.ui.screen = Home;
        b.ui.focus = PlayButton;
        b.ui.awaitingBrowser = true;
        b.ui.statusIsError = true;
        copyText(b.ui.statusText, L"estado");
        b.link.ready = c.ready;
        b.link.busy = c.busy;
        b.link.linkPending = c.pending;
        b.link.message = c.message;
        EXPECT_TRUE(b.pump(changed(c.wasReady)).repaint) << c.name;
        EXPECT_EQ(b.ui.screen, c.screen) << c.name;
        EXPECT_EQ(b.ui.focus, c.focus) << c.name;
        EXPECT_EQ(b.ui.awaitingBrowser, c.awaitingAfter) << c.name;
        EXPECT_EQ(b.port.stages(), c.serviceUpdate
                                       ? std::vector<DiagnosticStage>{DiagnosticStage::ServiceUpdate}
                                       : std::vector<DiagnosticStage>{})
            << c.name;
        EXPECT_STREQ(b.ui.statusText, c.statusAfter) << c.name;
        EXPECT_EQ(b.ui.statusIsError, c.errorAfter) << c.name;
    }
}

TEST(LinkPump, OpensTheAuthorisationPageOnceAndReportsTheShellResult) {
    struct Case {
        int64_t shellResult;
        bool error;
        const std::wstring& text;
    };
    const Case cases[] = {{33, false, kBrowserOpened},
                          {32, true, kBrowserFailed},
                          {0, true, kBrowserFailed},
                          {42, false, kBrowserOpened}};
    const std::wstring url = L"https://steamcommunity.com/openid/login?openid.mode=checkid_setup";
    for (const Case& c : cases) {
        Bench b;
        b.ui.awaitingBrowser = true;
        b.ui.statusIsError = !c.error;
        b.link.linkPending = true;
        b.port.shellResult = c.shellResult;
        LinkPull pull = changed();
        pull.browserUrl = url;
        EXPECT_TRUE(b.pump(pull).repaint);
        EXPECT_EQ(b.port.opened, std::vector<std::wstring>{url});
        EXPECT_EQ(b.ui.lastBrowserResult, c.shellResult);
        EXPECT_EQ(b.ui.statusIsError, c.error);
        EXPECT_FALSE(b.ui.awaitingBrowser);
        EXPECT_EQ(std::wstring(b.ui.statusText), c.text);
        // The snapshot's record comes first, then the page's, which already carries the result.
        ASSERT_EQ(b.port.stages(), (std::vector<DiagnosticStage>{DiagnosticStage::ServiceUpdate,
                                                                 DiagnosticStage::BrowserOpen}));
        EXPECT_EQ(b.port.diagnosed[0].browserResult, 0);
        EXPECT_EQ(b.port.diagnosed[1].browserResult, c.shellResult);

        // The next tick has no URL: nothing is opened again.
        EXPECT_FALSE(b.pump(LinkPull{}).repaint);
        EXPECT_EQ(b.port.opened.size(), 1u);
    }
}

TEST(LinkPump, AUrlHandedOverWithoutAVersionChangeIsStillOpened) {
    Bench b;
    LinkPull pull;
    pull.browserUrl = L"https://discord.com/oauth2/authorize?state=x";
    EXPECT_TRUE(b.pump(pull).repaint);
    EXPECT_EQ(b.port.stages(), std::vector<DiagnosticStage>{DiagnosticStage::BrowserOpen});
}

TEST(LinkPump, DoesNothingWithoutLinking) {
    Bench b;
    b.ui.linkingEnabled = false;
    configure(b.config);
    b.link.configLoaded = true;
    b.link.communityUrl = L"";
    LinkPull pull = changed(true);
    pull.browserUrl = L"https://steamcommunity.com/openid/login";
    EXPECT_FALSE(b.pump(pull).repaint);
    EXPECT_TRUE(b.port.opened.empty());
    EXPECT_STREQ(b.config.community, L"https://antes.example/");
    EXPECT_EQ(b.ui.screen, Linking);
}

TEST(LinkPump, AReadyPlayerIsSentBackOnlyWhenLinksOrTheStatusSaySo) {
    struct Case {
        const char* name;
        bool steamLinked, discordLinked, discordEnabled, busy;
        const wchar_t* message;
        bool sentBack;
    };
    const wchar_t* const unavailable = L"El servicio de vinculación no está disponible. Vuelve a intentarlo.";
    const wchar_t* const unreachable =
        L"No se pudo conectar con el servicio de la comunidad. Pulsa Reintentar.";
    const Case cases[] = {
        {"status answered 503", true, true, true, false, unavailable, false},
        {"connection dropped", true, true, true, false, unreachable, false},
        {"Retry under way", true, true, true, true, L"", false},
        {"Discord off, status unreachable", true, false, false, false, unreachable, false},
        {"status says not ready", true, true, true, false, L"", true},
        {"session renewed without links", false, false, true, false, L"", true},
        {"renewal failed, links gone", false, false, true, false, unavailable, true},
        {"Discord link withdrawn, then unreachable", true, false, true, false, unreachable, true},
        {"logged out, new session under way", false, false, true, true, L"", true},
    };
    for (const Screen from : {Home, News}) {
        for (const Case& c : cases) {
            Bench b;
            b.connected();
            b.ui.screen = from;
            b.ui.focus = PlayButton;
            b.link.steamLinked = c.steamLinked;
            b.link.discordLinked = c.discordLinked;
            b.link.discordEnabled = c.discordEnabled;
            b.link.busy = c.busy;
            b.link.message = c.message;
            b.pump(changed(true));
            EXPECT_EQ(b.ui.screen, c.sentBack ? Linking : from) << c.name;
            EXPECT_EQ(b.ui.focus, c.sentBack ? LinkSteamButton : PlayButton) << c.name;
            // Play's gate is unchanged: not ready leads to the linking card and its error line.
            if (!c.sentBack) {
                b.press(PlayButton);
                EXPECT_EQ(b.ui.screen, Linking) << c.name;
            }
        }
    }
}

TEST(LinkPump, TheAwaitedAccountLinkedEndsTheWaitAndItsLine) {
    const std::wstring preparing = L"Preparando la pantalla oficial de autorización…";
    struct Case {
        const char* name;
        HitTarget clicked;
        bool browserOpened; // the page was opened before the snapshot
        bool steamLinked, discordLinked;
        bool ended;
    };
    const Case cases[] = {
        {"Steam found linked while the click was in flight", LinkSteamButton, false, true, false, true},
        {"Steam linked in the browser", LinkSteamButton, true, true, false, true},
        {"Discord found linked while the click was in flight", LinkDiscordButton, false, true, true, true},
        {"Discord linked in the browser", LinkDiscordButton, true, true, true, true},
        {"Discord awaited, only Steam linked", LinkDiscordButton, false, true, false, false},
        {"Discord in the browser, only Steam linked", LinkDiscordButton, true, true, false, false},
        {"Steam awaited, nothing linked", LinkSteamButton, false, false, false, false},
    };
    for (const Case& c : cases) {
        Bench b;
        b.connected();
        b.link.steamLinked = c.clicked == LinkDiscordButton;
        b.press(c.clicked);
        ASSERT_TRUE(b.ui.awaitingBrowser) << c.name;
        if (c.browserOpened) {
            LinkPull page;
            page.browserUrl = L"https://steamcommunity.com/openid/login?openid.mode=checkid_setup";
            b.pump(page);
            ASSERT_EQ(std::wstring(b.ui.statusText), kBrowserOpened) << c.name;
        }
        b.link.steamLinked = c.steamLinked;
        b.link.discordLinked = c.discordLinked;
        b.pump(changed());
        const std::wstring waiting = c.browserOpened ? kBrowserOpened : preparing;
        EXPECT_EQ(b.ui.awaitingBrowser, !c.ended && !c.browserOpened) << c.name;
        EXPECT_EQ(std::wstring(b.ui.statusText), c.ended ? L"" : waiting) << c.name;
        EXPECT_FALSE(b.ui.statusIsError) << c.name;
        // The card falls back to its base line, and the next click reaches the service.
        const LinkingCardView card = linkingCardView(b.link, b.ui);
        EXPECT_EQ(card.statusLine == waiting, !c.ended) << c.name;
        if (c.ended && !c.discordLinked) {
            b.press(LinkDiscordButton);
            EXPECT_EQ(b.port.posts.back(), LinkDiscord) << c.name;
            EXPECT_EQ(std::wstring(b.ui.statusText), preparing) << c.name;
        }
    }
}
