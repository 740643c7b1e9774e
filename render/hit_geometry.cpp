#include "render/hit_geometry.h"

namespace {

// The order decides overlaps: window buttons first, carousel controls last.
const HitTarget kHitOrder[] = {
    MinimizeButton, MaximizeButton,  CloseButton,         AccountsButton, LinkSteamButton, LinkDiscordButton,
    ContinueButton, RetryButton,     SignOutButton,       TabHome,        TabNews,         TabCommunity,
    PlayButton,     CommunityButton, PreviousSceneButton, PauseButton,    NextSceneButton, SceneDot0,
    SceneDot1,      SceneDot2,       SceneDot3,
};

} // namespace

DesignPoint linkingCardOrigin(int W, int H) {
    return {(W - 700) * 0.5f, (H - 464) * 0.5f + 20.0f};
}

DesignRect hitRect(HitTarget target, int W, int H) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    const DesignPoint card = linkingCardOrigin(W, H);
    const int t = static_cast<int>(target);
    switch (target) {
    case TabHome:
    case TabNews:
    case TabCommunity:
        return {w / 2 - 156 + 104.0f * (t - TabHome), 48, 100, 44};
    case PlayButton:
        return {64, h - 168, 222, 52};
    case CommunityButton:
        return {w - 356, h - 151, 268, 32};
    case MinimizeButton:
    case MaximizeButton:
    case CloseButton:
        return {w - 126 + 42.0f * (t - MinimizeButton), 0, 42, 32};
    case PreviousSceneButton:
    case PauseButton:
    case NextSceneButton:
        return {w - 194 + 42.0f * (t - PreviousSceneButton), h - 65, 38, 38};
    case SceneDot0:
    case SceneDot1:
    case SceneDot2:
    case SceneDot3:
        return {w - 372 + 30.0f * (t - SceneDot0), h - 62, 28, 32};
    case LinkSteamButton:
    case LinkDiscordButton:
        return {card.x + 476, card.y + 159 + 98.0f * (t - LinkSteamButton), 184, 44};
    case ContinueButton:
        return {card.x + 40, card.y + 355, 620, 50};
    case RetryButton:
        return {card.x + 488, card.y + 324, 172, 27};
    case AccountsButton:
        return {w - 276, 48, 214, 44};
    case SignOutButton:
        // On the eyebrow's line, right-aligned like the retry link below.
        return {card.x + 488, card.y + 20, 172, 27};
    default:
        return {0, 0, 0, 0};
    }
}

bool isHitTestable(HitTarget target, const HitConditions& when) {
    switch (target) {
    case PlayButton:
    case CommunityButton:
        return when.screen != Linking;
    case PreviousSceneButton:
    case PauseButton:
    case NextSceneButton:
        return when.sceneCount >= 2;
    case SceneDot0:
    case SceneDot1:
    case SceneDot2:
    case SceneDot3:
        return static_cast<size_t>(target - SceneDot0) < when.sceneCount;
    case LinkSteamButton:
    case LinkDiscordButton:
    case ContinueButton:
    case RetryButton:
        return when.screen == Linking;
    case AccountsButton:
        return when.linkingEnabled;
    case SignOutButton:
        return when.screen == Linking && when.signOutOffered;
    case None:
        return false;
    default:
        return true;
    }
}

HitTarget hitTest(float x, float y, int clientWidth, int clientHeight, const HitConditions& when,
                  float dpiFactor) {
    const UiScale ui = computeUiScale(clientWidth, clientHeight, dpiFactor);
    const float dx = x / ui.scale, dy = y / ui.scale;
    for (HitTarget target : kHitOrder)
        if (isHitTestable(target, when) && containsPoint(hitRect(target, ui.width, ui.height), dx, dy))
            return target;
    return None;
}

DesignRect textBoxRect(TextBox box, int W, int H) {
    const float w = static_cast<float>(W), h = static_cast<float>(H);
    const DesignPoint card = linkingCardOrigin(W, H);
    switch (box) {
    case BoxNewsCardTitle:
        return {w - 356, h - 255, 268, 55};
    case BoxNewsCardBody:
        return {w - 356, h - 195, 268, 48};
    case BoxPanelTitle:
        return {87, 201, w - 508, 52};
    case BoxPanelHeadline:
        return {88, 270, w - 512, 60};
    case BoxPanelBody:
        return {88, 340, w - 512, h - 568};
    case BoxSteamRow:
    case BoxDiscordRow:
        return {card.x + 40, card.y + 138 + 98.0f * (box - BoxSteamRow), 620, 86};
    case BoxStatusLine:
        return {card.x + 40, card.y + 324, 620, 27};
    case BoxErrorLine:
        return {card.x + 40, card.y + 321, 440, 29};
    case BoxFooterLine:
        return {66, h - 59, w - 494, 26};
    }
    return {0, 0, 0, 0};
}

DesignRect emblemRect() {
    return {59, 41, 44, 44};
}

DesignRect sceneBarRect(size_t index, int W, int H) {
    if (index >= kMaxSceneBars)
        return {0, 0, 0, 0};
    const DesignRect dot = hitRect(static_cast<HitTarget>(SceneDot0 + static_cast<int>(index)), W, H);
    return {dot.x + 4, dot.y + 12, 20, 3};
}

DesignRect progressRect(size_t index, float share, int W, int H) {
    DesignRect bar = sceneBarRect(index, W, H);
    bar.w *= share;
    return bar;
}

DesignRect sceneBarsRect(size_t count, int W, int H) {
    if (count == 0)
        return {0, 0, 0, 0};
    const DesignRect first = sceneBarRect(0, W, H), last = sceneBarRect(count - 1, W, H);
    return {first.x, first.y, last.x + last.w - first.x, first.h};
}

DesignRect sceneCaptionRect(int W, int H) {
    return {W - 378.0f, H - 341.0f, 314, 24};
}

DesignRect sceneCounterRect(int W, int H) {
    return {W - 252.0f, H - 57.0f, 55, 22};
}

DesignRect sceneCounterInkRect(int W, int H) {
    DesignRect r = sceneCounterRect(W, H);
    r.w = 44; // "00 / 00" at the counter's size
    return r;
}
