#include "app/window_logic.h"

#include "render/hit_geometry.h"

#include <algorithm>
#include <cmath>

WindowPlacement windowPlacement(int screenWidth, int screenHeight, float dpiFactor) {
    const int width = std::min(dpiPixels(1420, dpiFactor), screenWidth - dpiPixels(40, dpiFactor));
    const int height = std::min(dpiPixels(890, dpiFactor), screenHeight - dpiPixels(80, dpiFactor));
    return {(screenWidth - width) / 2, (screenHeight - height) / 2, width, height};
}

WindowSize minimumTrackSize(float dpiFactor, WindowSize maximised) {
    return {std::min(dpiPixels(960, dpiFactor), maximised.width),
            std::min(dpiPixels(640, dpiFactor), maximised.height)};
}

RECT clientAreaFor(const RECT& window, bool maximised, const RECT* workArea) {
    return maximised && workArea != nullptr ? *workArea : window;
}

int frameHitCode(int x, int y, int right, int bottom, bool maximised, float dpiFactor) {
    const int edge = dpiPixels(6, dpiFactor), corner = dpiPixels(8, dpiFactor);
    if (!maximised) {
        if (y < edge)
            return x < corner ? HTTOPLEFT : x > right - corner ? HTTOPRIGHT : HTTOP;
        if (y > bottom - edge)
            return x < corner ? HTBOTTOMLEFT : x > right - corner ? HTBOTTOMRIGHT : HTBOTTOM;
        if (x < edge)
            return HTLEFT;
        if (x > right - edge)
            return HTRIGHT;
    }
    // The rightmost 126 pixels (at 96 DPI) of the title strip belong to the window buttons.
    if (y <= dpiPixels(41, dpiFactor) && x >= dpiPixels(9, dpiFactor) &&
        x < right - dpiPixels(126, dpiFactor))
        return HTCAPTION;
    return HTCLIENT;
}

HitTarget nextFocus(const HitConditions& when, HitTarget focus, bool backwards) {
    static const HitTarget kLinkingRing[] = {LinkSteamButton, LinkDiscordButton, ContinueButton,
                                             RetryButton,     AccountsButton,    PreviousSceneButton,
                                             PauseButton,     NextSceneButton};
    static const HitTarget kHomeRing[] = {TabHome,     TabNews,         TabCommunity,
                                          PlayButton,  CommunityButton, PreviousSceneButton,
                                          PauseButton, NextSceneButton};
    const bool linking = when.screen == Linking;
    // Without two scenes the carousel controls are absent.
    const int fixed = when.sceneCount < 2 ? 5 : 8;
    HitTarget ring[9];
    std::copy_n(linking ? kLinkingRing : kHomeRing, fixed, ring);
    int n = fixed;
    // The stops added later come after the fixed ones, so the fixed order stays as players know it.
    const HitTarget extra = linking ? SignOutButton : AccountsButton;
    if (isHitTestable(extra, when))
        ring[n++] = extra;
    const HitTarget* end = ring + n;
    const HitTarget* at = std::find(static_cast<const HitTarget*>(ring), end, focus);
    if (at == end)
        return ring[backwards ? n - 1 : 0];
    const int i = static_cast<int>(at - ring);
    return ring[backwards ? (i + n - 1) % n : (i + n + 1) % n];
}

KeyResult applyKey(UiState& ui, const HitConditions& when, unsigned key, bool ctrl, bool shift,
                   bool repeated) {
    KeyResult result;
    switch (key) {
    case VK_TAB:
        ui.focus = nextFocus(when, ui.focus, shift);
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
