#include "actions/activate.h"

#include "actions/steam_url.h"
#include "app/text.h"
#include "link/link_service.h"

namespace {

constexpr size_t kUrlCapacity = 1024;
constexpr wchar_t kConnectSent[] = L"Solicitud de conexión enviada a Steam.";
constexpr wchar_t kLaunchSent[] = L"Solicitud de apertura enviada a Steam.";
constexpr wchar_t kSteamFailed[] = L"No se pudo abrir Steam. Comprueba su instalación.";
constexpr wchar_t kServerUnavailable[] =
    L"La conexión del servidor no está disponible. Vuelve a intentarlo más tarde.";

} // namespace

ActionOutcome playGame(ActionRecords& r) {
    UiState& ui = r.ui;
    const ActionOutcome repaint{WindowCommand::None, true};
    if (ui.linkingEnabled && (!r.link.configLoaded || !r.link.ready)) {
        ui.screen = Linking;
        ui.focus = LinkSteamButton;
        r.port.requestRefresh();
        return repaint;
    }
    const wchar_t* address = ui.linkingEnabled ? r.link.serverAddress.c_str() : r.config.server;
    wchar_t url[kUrlCapacity] = {};
    if (!buildSteamUrl(address, url, kUrlCapacity)) {
        copyText(ui.playStatusText, kServerUnavailable);
        // Fetch the service's configuration again; the next Play may find a usable address.
        if (ui.linkingEnabled)
            r.port.post(Retry);
        return repaint;
    }
    const bool opened = r.port.openUrl(url) > 32;
    // The text follows the configured server, not the address this press used.
    const bool connectText = r.config.server[0] != L'\0';
    copyText(ui.playStatusText, !opened ? kSteamFailed : connectText ? kConnectSent : kLaunchSent);
    return repaint;
}
