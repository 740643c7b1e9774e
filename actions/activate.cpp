#include "actions/activate.h"

#include "app/text.h"
#include "link/link_service.h"
#include "link/shell_url.h"
#include "render/carousel.h"

namespace {

constexpr wchar_t kLinkPreparing[] = L"Preparando la pantalla oficial de autorización…";
constexpr wchar_t kLinkSteamFirst[] = L"Vincula primero Steam. Discord se habilita al terminar.";
constexpr wchar_t kSignOutRefused[] = L"No se pudo cerrar la sesión. Pulsa Reintentar.";
constexpr wchar_t kLinkCouldNotStart[] =
    L"La vinculación no pudo empezar. Pulsa Reintentar y vuelve a intentarlo.";

// Refused before asking the service: the same rules the service applies, plus a click in flight.
bool linkClickAllowed(HitTarget control, const UiState& ui, const LinkState& link) {
    if (ui.awaitingBrowser || !link.configLoaded || link.busy)
        return false;
    if (control == LinkSteamButton)
        return !link.steamLinked;
    return link.discordEnabled && link.steamLinked && !link.discordLinked;
}

void linkClick(HitTarget control, ActionRecords& r) {
    UiState& ui = r.ui;
    ++ui.linkClicks;
    ui.lastControl = control;
    const bool queued = linkClickAllowed(control, ui, r.link) &&
                        r.port.post(control == LinkSteamButton ? LinkSteam : LinkDiscord);
    ui.lastLinkQueued = queued;
    ui.awaitingBrowser = queued;
    ui.awaitedLink = queued ? control : None;
    ui.statusIsError = !queued;
    const bool discord = control == LinkDiscordButton;
    if (queued)
        copyText(ui.statusText, kLinkPreparing);
    else if (discord && !r.link.steamLinked)
        copyText(ui.statusText, kLinkSteamFirst);
    else if (discord && r.link.configLoaded && !r.link.discordEnabled)
        copyText(ui.statusText, kDiscordNotConfiguredText); // retrying cannot help: the admins must act
    else
        copyText(ui.statusText, kLinkCouldNotStart);
    r.port.diagnose(DiagnosticStage::LinkClick);
}

// The first press only arms "CERRAR SESIÓN"; a second one within the confirmation time signs out.
void signOutPress(ActionRecords& r) {
    UiState& ui = r.ui;
    if (!signOutOffered(r.link))
        return;
    if (!signOutConfirming(ui, r.now)) {
        ui.signOutArmed = true;
        ui.signOutArmedAt = r.now;
        return;
    }
    ui.signOutArmed = false;
    ui.awaitingBrowser = false;
    ui.awaitedLink = None;
    const bool queued = r.port.post(Logout);
    ui.statusIsError = !queued;
    copyText(ui.statusText, queued ? L"" : kSignOutRefused);
}

void openCommunity(ActionRecords& r) {
    if (isValidCommunityUrl(r.config.community)) {
        r.port.openUrl(r.config.community);
        return;
    }
    // The community screen explains that the link is not configured yet.
    r.ui.screen = Community;
    r.ui.focus = TabCommunity;
}

} // namespace

bool signOutConfirming(const UiState& ui, uint64_t now) {
    return ui.signOutArmed && now >= ui.signOutArmedAt && now - ui.signOutArmedAt < kSignOutConfirmMs;
}

uint64_t signOutDisarmDueMs(const UiState& ui, uint64_t now) {
    if (!ui.signOutArmed)
        return 0;
    if (!signOutConfirming(ui, now))
        return 1;
    return kSignOutConfirmMs - (now - ui.signOutArmedAt);
}

ActionOutcome activate(HitTarget control, ActionRecords& r) {
    ActionOutcome outcome;
    outcome.repaint = true;
    switch (control) {
    case TabHome:
    case TabNews:
    case TabCommunity:
        r.ui.screen = static_cast<Screen>(control - TabHome);
        break;
    case PlayButton:
        return playGame(r);
    case CommunityButton:
        openCommunity(r);
        break;
    case MinimizeButton:
        outcome.command = WindowCommand::Minimise;
        break;
    case MaximizeButton:
        outcome.command = r.windowMaximised ? WindowCommand::Restore : WindowCommand::Maximise;
        break;
    case CloseButton:
        return {WindowCommand::Close, false};
    case PreviousSceneButton:
        stepScene(r.scenes, -1, r.now);
        break;
    case PauseButton:
        togglePause(r.scenes, r.now);
        break;
    case NextSceneButton:
        stepScene(r.scenes, +1, r.now);
        break;
    case SceneDot0:
    case SceneDot1:
    case SceneDot2:
    case SceneDot3:
        jumpToScene(r.scenes, static_cast<uint32_t>(control - SceneDot0), r.now);
        break;
    case LinkSteamButton:
    case LinkDiscordButton:
        linkClick(control, r);
        break;
    case ContinueButton:
        if (r.link.ready) {
            r.ui.screen = Home;
            r.ui.focus = PlayButton;
        }
        break;
    case RetryButton:
        copyText(r.ui.statusText, L"");
        r.ui.statusIsError = false;
        r.ui.awaitingBrowser = false;
        r.ui.awaitedLink = None;
        r.port.post(Retry);
        break;
    case SignOutButton:
        signOutPress(r);
        break;
    case AccountsButton:
        r.ui.screen = Linking;
        r.ui.focus = LinkSteamButton;
        r.port.requestRefresh();
        break;
    default:
        break;
    }
    return outcome;
}
