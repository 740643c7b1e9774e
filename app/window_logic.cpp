#include "app/window_logic.h"

#include <windows.h>

#include <algorithm>
#include <cmath>

WindowPlacement windowPlacement(int screenWidth, int screenHeight) {
    const int width = screenWidth < 1460 ? screenWidth - 40 : 1420;
    const int height = screenHeight < 970 ? screenHeight - 80 : 890;
    return {(screenWidth - width) / 2, (screenHeight - height) / 2, width, height};
}

int frameHitCode(int x, int y, int right, int bottom, bool maximised) {
    if (!maximised) {
        if (y < 6)
            return x < 8 ? HTTOPLEFT : x > right - 8 ? HTTOPRIGHT : HTTOP;
        if (y > bottom - 6)
            return x < 8 ? HTBOTTOMLEFT : x > right - 8 ? HTBOTTOMRIGHT : HTBOTTOM;
        if (x < 6)
            return HTLEFT;
        if (x > right - 6)
            return HTRIGHT;
    }
    // The rightmost 126 pixels of the title strip belong to the window buttons.
    if (y <= 41 && x >= 9 && x < right - 126)
        return HTCAPTION;
    return HTCLIENT;
}

HitTarget nextFocus(Screen screen, size_t sceneCount, HitTarget focus, bool backwards) {
    static const HitTarget kLinkingRing[] = {LinkSteamButton, LinkDiscordButton, ContinueButton,
                                             RetryButton,     AccountsButton,    PreviousSceneButton,
                                             PauseButton,     NextSceneButton};
    static const HitTarget kHomeRing[] = {TabHome,     TabNews,         TabCommunity,
                                          PlayButton,  CommunityButton, PreviousSceneButton,
                                          PauseButton, NextSceneButton};
    const HitTarget* ring = screen == Linking ? kLinkingRing : kHomeRing;
    // Without two scenes the carousel controls are absent.
    const int n = sceneCount < 2 ? 5 : 8;
    const HitTarget* end = ring + n;
    const HitTarget* at = std::find(ring, end, focus);
    if (at == end)
        return ring[backwards ? n - 1 : 0];
    const int i = static_cast<int>(at - ring);
    return ring[backwards ? (i + n - 1) % n : (i + n + 1) % n];
}

KeyResult applyKey(UiState& ui, size_t sceneCount, unsigned key, bool ctrl, bool shift, bool repeated) {
    KeyResult result;
    switch (key) {
    case VK_TAB:
        ui.focus = nextFocus(ui.screen, sceneCount, ui.focus, shift);
        ui.focusVisible = true;
        result.repaint = true;
        break;
    case VK_RETURN:
    case VK_SPACE:
        result.activates = !repeated;
        result.target = ui.focus;
        break;
    case VK_ESCAPE:
        result.minimise = true;
        break;
    case VK_LEFT:
    case VK_RIGHT:
        if (ctrl) {
            // The linking screen counts as 3, so Ctrl+Right leads to News and Ctrl+Left to Community.
            ui.screen = static_cast<Screen>((ui.screen + (key == VK_RIGHT ? 1 : 2)) % 3);
            result.repaint = true;
        } else {
            result.activates = true;
            result.target = key == VK_RIGHT ? NextSceneButton : PreviousSceneButton;
        }
        break;
    case 'P':
        result.activates = !repeated;
        result.target = PauseButton;
        break;
    default:
        break;
    }
    return result;
}

EmblemClock advanceEmblem(EmblemClock clock, double now) {
    if (clock.lastFrameTime != 0.0) {
        const double step = std::clamp(now - clock.lastFrameTime, 0.0, 0.1) * 4.0;
        clock.angle = static_cast<float>(std::fmod(clock.angle + step, 360.0));
    }
    clock.lastFrameTime = now;
    return clock;
}

bool paintsThisTick(double backgroundSince, double now, uint64_t tick) {
    if (backgroundSince == 0.0 || now - backgroundSince <= 2.0)
        return true;
    return tick % 64 == 0;
}
