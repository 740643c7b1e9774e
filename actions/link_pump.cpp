#include "actions/activate.h"

#include "actions/steam_url.h"
#include "app/text.h"

namespace {

constexpr wchar_t kBrowserFailed[] =
    L"Windows no ha podido abrir el navegador. Revisa tu navegador predeterminado y pulsa Vincular.";
constexpr wchar_t kBrowserOpened[] = L"Completa la autorización en tu navegador.";

// In the window modes the service is the only source of these four settings: an address it withdrew,
// or one the window refuses, leaves none to show or to connect to.
void copyServiceConfig(const LinkState& link, LauncherConfig& config) {
    const bool usable = validateServerAddress(link.serverAddress.c_str());
    copyText(config.server, usable ? link.serverAddress.c_str() : L"");
    copyText(config.community, link.communityUrl.c_str());
    copyText(config.news_title, link.newsTitle.c_str());
    copyText(config.news_body, link.newsBody.c_str());
}

// Readiness lost only because the service could not be reached or answered with an error keeps the
// player on their screen; a status that says not ready, or links gone with a lost session, do not.
bool readinessWithdrawn(const LinkState& link) {
    return !requiredLinksPresent(link) || (link.message.empty() && !link.busy);
}

// The account the player asked to link shows linked: found so by a poll while the click was in flight,
// or completed in the browser. Nothing is awaited any more.
bool awaitedLinkMade(const UiState& ui, const LinkState& link) {
    return (ui.awaitedLink == LinkSteamButton && link.steamLinked) ||
           (ui.awaitedLink == LinkDiscordButton && link.discordLinked);
}

void followSnapshot(bool wasReady, ActionRecords& r) {
    const LinkState& link = r.link;
    UiState& ui = r.ui;
    if (link.configLoaded)
        copyServiceConfig(link, r.config);
    if (wasReady && !link.ready && readinessWithdrawn(link)) {
        ui.screen = Linking;
        ui.focus = LinkSteamButton;
    }
    if (link.busy || link.linkPending || !link.message.empty()) {
        ui.awaitingBrowser = false;
        r.port.diagnose(DiagnosticStage::ServiceUpdate);
    }
    // Signed out: the control is gone, and the keyboard focus goes back to the start of the card.
    if (!signOutOffered(link) && ui.focus == SignOutButton)
        ui.focus = LinkSteamButton;
    if (link.ready || awaitedLinkMade(ui, link)) {
        copyText(ui.statusText, L"");
        ui.statusIsError = false;
        ui.awaitingBrowser = false;
        ui.awaitedLink = None;
    }
}

void openAuthorisation(const std::wstring& url, ActionRecords& r) {
    UiState& ui = r.ui;
    // The service already held the URL to its authorisation-page rule.
    ui.lastBrowserResult = r.port.openUrl(url.c_str());
    const bool failed = ui.lastBrowserResult < 33;
    ui.statusIsError = failed;
    ui.awaitingBrowser = false;
    copyText(ui.statusText, failed ? kBrowserFailed : kBrowserOpened);
    r.port.diagnose(DiagnosticStage::BrowserOpen);
}

} // namespace

ActionOutcome pumpLinkService(const LinkPull& pull, ActionRecords& r) {
    ActionOutcome outcome;
    if (!r.ui.linkingEnabled)
        return outcome;
    if (r.ui.signOutArmed && (!signOutConfirming(r.ui, r.now) || !signOutOffered(r.link))) {
        r.ui.signOutArmed = false;
        outcome.repaint = true;
    }
    if (pull.changed) {
        followSnapshot(pull.wasReady, r);
        outcome.repaint = true;
    }
    if (!pull.browserUrl.empty()) {
        openAuthorisation(pull.browserUrl, r);
        outcome.repaint = true;
    }
    return outcome;
}
