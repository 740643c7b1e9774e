#include "render/accessible_tree.h"
#include "render/hit_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

namespace {

// One window's records: what the tree is read from.
struct Window {
    UiState ui;
    LinkState link;
    LauncherConfig config{};
    SceneLibrary scenes;
    float dpi = 1.0f;
    int width = 1420, height = 890;

    Window() {
        ui.linkingEnabled = true;
        link.configLoaded = true;
        link.discordEnabled = true;
        scenes.scenes.resize(3);
    }
    AccessibleTree tree() const {
        return accessibleTree(FrameInputs{ui, link, config, scenes, dpi}, width, height);
    }
};

std::vector<int32_t> keysOf(const AccessibleTree& tree) {
    std::vector<int32_t> keys;
    for (const AccessibleItem& item : tree.items)
        keys.push_back(item.key);
    return keys;
}

const AccessibleItem& item(const AccessibleTree& tree, int32_t key) {
    static const AccessibleItem missing{0, AccessibleRole::StaticText, L"<missing>", {}, {}};
    const AccessibleItem* found = findItem(tree, key);
    return found != nullptr ? *found : missing;
}

TEST(AccessibleTree, EachScreenListsWhatItShowsInReadingOrder) {
    Window w;
    w.ui.screen = Home;
    w.scenes.current = 1;
    const AccessibleTree home = w.tree();
    EXPECT_EQ(keysOf(home),
              (std::vector<int32_t>{TabHome, TabNews, TabCommunity, AccountsButton, MinimizeButton,
                                    MaximizeButton, CloseButton, PlayButton, BoxNewsCardTitle,
                                    BoxNewsCardBody, CommunityButton, BoxFooterLine, PreviousSceneButton,
                                    PauseButton, NextSceneButton, SceneDot0, SceneDot1, SceneDot2}));
    EXPECT_EQ(item(home, TabHome).name, L"Inicio");
    EXPECT_TRUE(item(home, TabHome).selected);
    EXPECT_FALSE(item(home, TabNews).selected);
    EXPECT_EQ(item(home, AccountsButton).name, L"VINCULAR CUENTAS");
    EXPECT_EQ(item(home, PlayButton).name, L"Jugar");
    EXPECT_EQ(item(home, PlayButton).description, L"Garry's Mod  ·  Iniciar desde Steam");
    EXPECT_EQ(item(home, CommunityButton).role, AccessibleRole::Link);
    EXPECT_EQ(item(home, CommunityButton).name, L"VER COMUNIDAD");
    EXPECT_EQ(item(home, BoxNewsCardTitle).name, L"Bienvenido al frente");
    EXPECT_EQ(item(home, PauseButton).name, L"Pausar carrusel");
    EXPECT_EQ(item(home, SceneDot1).name, L"Imagen 2 de 3");
    EXPECT_TRUE(item(home, SceneDot1).selected);
    EXPECT_FALSE(item(home, SceneDot0).selected);

    w.ui.screen = News;
    wcscpy(w.config.news_title, L"Evento del sábado");
    const AccessibleTree news = w.tree();
    EXPECT_TRUE(item(news, TabNews).selected);
    EXPECT_EQ(item(news, BoxPanelTitle).name, L"ÚLTIMAS NOTICIAS");
    EXPECT_EQ(item(news, BoxPanelHeadline).name, L"Evento del sábado");
    EXPECT_EQ(item(news, BoxNewsCardTitle).name, L"Evento del sábado");
    EXPECT_EQ(item(news, BoxPanelBody).role, AccessibleRole::StaticText);

    // One picture: no buttons to step through pictures; linking off: no accounts button.
    w.scenes.scenes.resize(1);
    w.scenes.current = 0;
    w.ui.linkingEnabled = false;
    const AccessibleTree lone = w.tree();
    for (int32_t gone : {int32_t{AccountsButton}, int32_t{PreviousSceneButton}, int32_t{PauseButton},
                         int32_t{NextSceneButton}, int32_t{SceneDot1}})
        EXPECT_EQ(findItem(lone, gone), nullptr) << gone;
    EXPECT_EQ(item(lone, SceneDot0).name, L"Imagen 1 de 1");
}

TEST(AccessibleTree, LinkingCardRowsButtonsAndStatusLine) {
    Window w;
    w.ui.screen = Linking;
    w.link.steamLinked = true;
    w.link.steamName = L"Alicia";
    const AccessibleTree half = w.tree();
    EXPECT_EQ(item(half, BoxSteamRow).name, L"Steam: vinculado, Alicia");
    EXPECT_EQ(item(half, BoxDiscordRow).name, L"Discord: pendiente");
    EXPECT_EQ(item(half, BoxDiscordRow).description, L"Se abrirá la pantalla oficial para que aceptes");
    EXPECT_EQ(item(half, LinkSteamButton).name, L"VINCULADO");
    EXPECT_TRUE(item(half, LinkSteamButton).unavailable);
    EXPECT_EQ(item(half, LinkDiscordButton).name, L"VINCULAR");
    EXPECT_EQ(item(half, LinkDiscordButton).description, L"Discord");
    EXPECT_FALSE(item(half, LinkDiscordButton).unavailable);
    EXPECT_TRUE(item(half, BoxStatusLine).live);
    EXPECT_EQ(item(half, ContinueButton).name, L"COMPLETA LA VINCULACIÓN");
    EXPECT_TRUE(item(half, ContinueButton).unavailable);
    EXPECT_EQ(findItem(half, RetryButton), nullptr);
    EXPECT_EQ(findItem(half, PlayButton), nullptr);
    EXPECT_NE(findItem(half, SignOutButton), nullptr);

    // Steam not linked: Discord's button is drawn muted and says why in its row.
    Window fresh;
    fresh.ui.screen = Linking;
    const AccessibleTree first = fresh.tree();
    EXPECT_TRUE(item(first, LinkDiscordButton).unavailable);
    EXPECT_EQ(item(first, BoxDiscordRow).description, L"Vincula primero tu cuenta de Steam");

    w.link.discordLinked = true;
    w.link.discordName = L"ali#1";
    w.link.ready = true;
    const AccessibleTree ready = w.tree();
    EXPECT_EQ(item(ready, BoxStatusLine).name, L"Todo listo. Tu escuadrón te espera.");
    EXPECT_EQ(item(ready, ContinueButton).name, L"CONTINUAR");
    EXPECT_FALSE(item(ready, ContinueButton).unavailable);
    EXPECT_EQ(item(ready, AccountsButton).name, L"MIS CUENTAS, vinculadas");

    // An error takes the status line's place (same child, the error's box) and brings the retry link.
    w.link.message = L"No se pudo conectar con OrvaneGaming.";
    const AccessibleTree failed = w.tree();
    EXPECT_EQ(item(failed, BoxStatusLine).name, L"No se pudo conectar con OrvaneGaming.");
    EXPECT_EQ(item(failed, RetryButton).name, L"REINTENTAR");
    EXPECT_EQ(findItem(failed, BoxErrorLine), nullptr);
}

TEST(AccessibleTree, NamesSpeakWordsNotSymbols) {
    EXPECT_EQ(spokenLabel(L"VINCULADO  ✓"), L"VINCULADO");
    EXPECT_EQ(spokenLabel(L"CONTINUAR  →"), L"CONTINUAR");
    EXPECT_EQ(spokenLabel(L"ABRIR COMUNIDAD"), L"ABRIR COMUNIDAD");
    Window w;
    w.link.steamLinked = w.link.discordLinked = w.link.ready = true;
    for (Screen screen : {Home, News, Community, Linking}) {
        w.ui.screen = screen;
        for (const AccessibleItem& i : w.tree().items) {
            EXPECT_EQ(i.name.find_first_of(L"✓→"), std::wstring::npos) << i.key;
            EXPECT_FALSE(i.name.empty()) << i.key;
        }
    }
}

// A reader that clicks the middle of what it is told a control is must reach that control, at every
// size and DPI the window can have.
TEST(AccessibleTree, ControlBoxesAreWhereClicksLand) {
    const struct {
        int width, height;
        float dpi;
    } windows[] = {
        {960, 640, 1.0f}, {1420, 890, 1.0f}, {1920, 1040, 1.0f}, {2130, 1335, 1.5f}, {2840, 1780, 2.0f}};
    for (const auto& size : windows)
        for (Screen screen : {Home, News, Linking}) {
            Window w;
            w.ui.screen = screen;
            w.link.steamLinked = true;
            w.link.message = L"Error";
            w.width = size.width;
            w.height = size.height;
            w.dpi = size.dpi;
            const HitConditions when = hitConditionsFor(w.ui, w.scenes.scenes.size(), w.link);
            for (const AccessibleItem& i : w.tree().items) {
                EXPECT_GT(i.box.right, i.box.left);
                EXPECT_LE(i.box.right, size.width);
                EXPECT_LE(i.box.bottom, size.height);
                if (i.role == AccessibleRole::StaticText)
                    continue;
                const float x = (i.box.left + i.box.right) / 2.0f, y = (i.box.top + i.box.bottom) / 2.0f;
                EXPECT_EQ(hitTest(x, y, size.width, size.height, when, size.dpi), i.key)
                    << size.width << "x" << size.height << " screen " << screen;
            }
        }
}

TEST(AccessibleTree, ChangesRaiseTheEventsAReaderNeeds) {
    const auto linking = [](Window& w) {
        w.ui.screen = Linking;
        w.ui.focus = LinkSteamButton;
    };
    Window w;
    linking(w);
    const AccessibleTree start = w.tree();
    EXPECT_TRUE(accessibleChanges(start, w.tree()).empty());
    EXPECT_EQ(start.focus, LinkSteamButton);

    const auto events = [&](auto change) {
        Window changed;
        linking(changed);
        change(changed);
        std::vector<std::pair<uint32_t, int32_t>> out;
        for (const AccessibleEvent& e : accessibleChanges(start, changed.tree()))
            out.push_back({e.event, e.key});
        return out;
    };
    using Events = std::vector<std::pair<uint32_t, int32_t>>;
    EXPECT_EQ(events([](Window& c) { c.ui.focus = LinkDiscordButton; }),
              (Events{{kEventFocus, LinkDiscordButton}}));
    // Busy: the status line says so, and the Steam button cannot be pressed meanwhile.
    EXPECT_EQ(events([](Window& c) { c.link.busy = true; }), (Events{{kEventStateChange, LinkSteamButton},
                                                                     {kEventNameChange, BoxStatusLine},
                                                                     {kEventLiveRegion, BoxStatusLine}}));
    // Steam linked: its row and button read differently, Discord's button is live, the sign-out link
    // appears.
    const Events linked = events([](Window& c) {
        c.link.steamLinked = true;
        c.link.steamName = L"Alicia";
    });
    EXPECT_EQ(linked.front(), (std::pair<uint32_t, int32_t>{kEventReorder, 0}));
    for (const auto& expected : Events{{kEventNameChange, BoxSteamRow},
                                       {kEventNameChange, LinkSteamButton},
                                       {kEventStateChange, LinkDiscordButton}})
        EXPECT_NE(std::find(linked.begin(), linked.end(), expected), linked.end()) << expected.second;
    // Another screen: the children change, the focus moves with it.
    EXPECT_EQ(events([](Window& c) {
                  c.ui.screen = Home;
                  c.ui.focus = PlayButton;
              }),
              (Events{{kEventReorder, 0}, {kEventStateChange, TabHome}, {kEventFocus, PlayButton}}));
    // The focus on a control the screen does not show is no focus.
    EXPECT_EQ(events([](Window& c) { c.ui.focus = PlayButton; }), Events{});
}

} // namespace
