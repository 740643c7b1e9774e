#include "actions/activate.h"

#include "actions/steam_url.h"
#include "app/text.h"

namespace {

constexpr wchar_t kBrowserFailed[] =
    L"Windows no ha podido abrir el navegador. Revisa tu navegador predeterminado y pulsa Vincular.";
constexpr wchar_t kBrowserOpened[] = L"Completa la autorización en tu navegador.";

// In the window modes the service is the only source of these four settings.
void copyServiceConfig(const LinkState& link, LauncherConfig& config) {
    if (validateServerAddress(link.serverAddress.c_str()))
        copyText(config.server, link.serverAddress.c_str());
    copyText(config.community, link.communityUrl.c_str());
    copyText(config.news_title, link.newsTitle.c_str());
    copyText(config.news_body, link.newsBody.c_str());
}

void followSnapshot(bool wasReady, ActionRecords& r) {
    const LinkState& link = r.link;
    UiState& ui = r.ui;
    if (link.configLoaded)
        copyServiceConfig(link, r.config);
    // The session was lost or a link withdrawn: back to linking.
    if (wasReady && !link.ready) {
        ui.screen = Linking;
        ui.focus = LinkSteamButton;
    }
    if (link.busy || link.linkPending || !link.message.empty()) {
        ui.awaitingBrowser = false;
        r.port.diagnose(DiagnosticStage::ServiceUpdate);
    }
    if (link.ready) {
        copyText(ui.statusText, L"");
        ui.statusIsError = false;
        ui.awaitingBrowser = false;
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
