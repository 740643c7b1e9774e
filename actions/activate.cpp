#include "actions/activate.h"

#include "app/app_state.h"
#include "render/carousel.h"

#include <windows.h>

namespace {

void repaint() {
    if (gMainWindow != nullptr)
        InvalidateRect(gMainWindow, nullptr, FALSE);
}

} // namespace

void activate(HitTarget control) {
    const uint64_t now = GetTickCount64();
    switch (control) {
    case TabHome:
    case TabNews:
    case TabCommunity:
        gUiState.screen = static_cast<Screen>(control - TabHome);
        break;
    case MinimizeButton:
        ShowWindow(gMainWindow, SW_MINIMIZE);
        break;
    case MaximizeButton:
        ShowWindow(gMainWindow, IsZoomed(gMainWindow) ? SW_RESTORE : SW_MAXIMIZE);
        break;
    case CloseButton:
        SendMessageW(gMainWindow, WM_CLOSE, 0, 0);
        return;
    case PreviousSceneButton:
        stepScene(gSceneLibrary, -1, now);
        break;
    case PauseButton:
        togglePause(gSceneLibrary, now);
        break;
    case NextSceneButton:
        stepScene(gSceneLibrary, +1, now);
        break;
    case SceneDot0:
    case SceneDot1:
    case SceneDot2:
    case SceneDot3:
        jumpToScene(gSceneLibrary, static_cast<uint32_t>(control - SceneDot0), now);
        break;
    case ContinueButton:
        if (gLinkState.ready) {
            gUiState.screen = Home;
            gUiState.focus = PlayButton;
        }
        break;
    case AccountsButton:
        gUiState.screen = Linking;
        gUiState.focus = LinkSteamButton;
        break;
    default:
        // Play, the community link and the account-link controls act through the link service,
        // which this build does not run yet.
        break;
    }
    repaint();
}
