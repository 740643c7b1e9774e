// The controls are where hitTest finds them, at the sizes players' windows have.
#include "selftest/checks.h"

namespace {

// hitTest at the centre of the control's rectangle on a W x H canvas, drawn at `scale` into the client.
bool hitsAtCentre(HitTarget control, int W, int H, float scale, int clientWidth, int clientHeight,
                  const HitConditions& when) {
    const DesignRect r = hitRect(control, W, H);
    return hitTest((r.x + r.w / 2) * scale, (r.y + r.h / 2) * scale, clientWidth, clientHeight, when) ==
           control;
}

// From 960 x 640 up, the scale is 1 and the canvas is the client itself.
void checkCompactLayouts(SelfTestTally& tally, const HitConditions& when) {
    static const int kWidths[] = {960, 1080, 1280, 1420, 1920};
    static const int kHeights[] = {640, 720, 890, 1080};
    static const HitTarget kControls[] = {
        TabHome,        TabNews,     TabCommunity,        PlayButton,  CommunityButton, MinimizeButton,
        MaximizeButton, CloseButton, PreviousSceneButton, PauseButton, NextSceneButton};
    for (int W : kWidths)
        for (int H : kHeights) {
            const DesignRect play = hitRect(PlayButton, W, H);
            const DesignRect community = hitRect(CommunityButton, W, H);
            check(tally, play.y > 0 && community.x > play.x + play.w && community.x + community.w <= W &&
                             community.y + community.h <= H);
            for (HitTarget control : kControls)
                check(tally, hitsAtCentre(control, W, H, 1.0f, W, H, when));
        }
}

// The Play button's centre at two scaled-down clients, given in client pixels.
void checkScaledPlayButton(SelfTestTally& tally, const HitConditions& when) {
    struct Case {
        float x, y;
        int width, height;
    };
    static const Case cases[] = {{145.83333f, 421.66666f, 800, 540}, {147.65625f, 420.1875f, 920, 540}};
    for (const Case& c : cases)
        check(tally, hitTest(c.x, c.y, c.width, c.height, when) == PlayButton);
}

// The linking card's controls, each client at the scale the window would use.
void checkLinkingControls(SelfTestTally& tally, const HitConditions& when) {
    struct Client {
        int width, height;
    };
    static const Client clients[] = {{800, 540}, {960, 640}, {1420, 890}, {1920, 1080}};
    static const HitTarget kControls[] = {LinkSteamButton, LinkDiscordButton, ContinueButton, RetryButton,
                                          AccountsButton};
    for (const Client& c : clients) {
        const UiScale ui = computeUiScale(c.width, c.height);
        for (HitTarget control : kControls)
            check(tally, hitsAtCentre(control, ui.width, ui.height, ui.scale, c.width, c.height, when));
    }
}

} // namespace

void checkHitTargets(SelfTestTally& tally, UiState& ui, size_t sceneCount) {
    checkCompactLayouts(tally, hitConditionsFor(ui, sceneCount, LinkState{}));
    checkScaledPlayButton(tally, hitConditionsFor(ui, sceneCount, LinkState{}));

    const Screen screen = ui.screen;
    const bool linkingEnabled = ui.linkingEnabled;
    ui.screen = Linking;
    ui.linkingEnabled = true;
    checkLinkingControls(tally, hitConditionsFor(ui, sceneCount, LinkState{}));
    ui.screen = screen;
    ui.linkingEnabled = linkingEnabled;
}
