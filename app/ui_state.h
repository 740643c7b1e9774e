#pragma once
#include <cstdint>

struct LinkState;

enum Screen : int32_t { Home = 0, News = 1, Community = 2, Linking = 3 };

// Clickable controls; the values are fixed (diagnostic reports store them).
enum HitTarget : int32_t {
    None = 0,
    TabHome = 10,
    TabNews = 11,
    TabCommunity = 12,
    PlayButton = 20,
    CommunityButton = 22,
    MinimizeButton = 30,
    MaximizeButton = 31,
    CloseButton = 32,
    PreviousSceneButton = 40,
    PauseButton = 41,
    NextSceneButton = 42,
    SceneDot0 = 50,
    SceneDot1 = 51,
    SceneDot2 = 52,
    SceneDot3 = 53,
    LinkSteamButton = 60,
    LinkDiscordButton = 61,
    ContinueButton = 62,
    RetryButton = 63,
    AccountsButton = 64,
    SignOutButton = 65,
};

inline constexpr int kUiTextCapacity = 320;

// The window's interaction state; UI thread only.
struct UiState {
    Screen screen = Home;
    HitTarget hover = None;
    HitTarget focus = PlayButton;
    bool focusVisible = false;
    wchar_t statusText[kUiTextCapacity] = {};
    bool statusIsError = false;
    bool awaitingBrowser = false;
    // The link button whose authorisation the status line follows; None when no link is under way.
    HitTarget awaitedLink = None;
    wchar_t playStatusText[kUiTextCapacity] = {};
    bool linkingEnabled = false;
    bool diagnoseMode = false;
    bool testSteamClick = false;
    bool autoClickDone = false;
    uint32_t linkClicks = 0;
    HitTarget lastControl = None;
    bool lastLinkQueued = false;
    int64_t lastBrowserResult = 0;
    int32_t lastMouseX = 0;
    int32_t lastMouseY = 0;
    // "CERRAR SESIÓN" was pressed once and reads "CONFIRMAR CIERRE" until a second press or until it
    // expires (GetTickCount64 milliseconds of the first press).
    bool signOutArmed = false;
    uint64_t signOutArmedAt = 0;
    // The window is maximised: its maximise button shows the restore glyph.
    bool windowMaximised = false;
    const LinkState* previewLinkState = nullptr;
    float emblemAngle = 0.0f;
    double lastFrameTime = 0.0;
};
