#include "render/screen_texts.h"

const wchar_t* tabLabel(HitTarget tab) {
    static const wchar_t* const kTabs[] = {L"Inicio", L"Novedades", L"Comunidad"};
    return tab >= TabHome && tab <= TabCommunity ? kTabs[tab - TabHome] : L"";
}

const wchar_t* accountsLabel(bool ready) {
    return ready ? L"MIS CUENTAS  ✓" : L"VINCULAR CUENTAS  →";
}

const wchar_t* carouselHint(HitTarget control, bool carouselPaused) {
    switch (control) {
    case PreviousSceneButton:
        return L"Imagen anterior  ·  Flecha izquierda";
    case NextSceneButton:
        return L"Imagen siguiente  ·  Flecha derecha";
    case PauseButton:
        return carouselPaused ? L"Reanudar carrusel  ·  P" : L"Pausar carrusel  ·  P";
    default:
        return nullptr;
    }
}

const wchar_t* footerLine(const UiState& ui, bool carouselPaused) {
    if (const wchar_t* hint = carouselHint(ui.hover, carouselPaused))
        return hint;
    if (ui.playStatusText[0] != L'\0')
        return ui.playStatusText;
    return L"POR LA ORVANE.   /   QUORLANE ROLEPLAY   ·   1.0.1";
}

PanelTexts panelTexts(Screen screen, const LauncherConfig& config) {
    if (screen == News)
        return {L"V E R A N E T  /  NOVEDADES", L"ÚLTIMAS NOTICIAS", 30.0f,
                config.news_title[0] ? config.news_title : L"Tu próxima misión empieza aquí",
                config.news_body[0] ? config.news_body
                                    : L"Las noticias y anuncios de OrvaneGaming aparecerán aquí."};
    const bool hasCommunity = config.community[0] != L'\0';
    return {L"ORVANE  /  COMUNIDAD", L"TU ESCUADRÓN TE ESPERA", 26.0f,
            hasCommunity ? L"Conecta con OrvaneGaming" : L"Forma parte de la Orvane",
            hasCommunity
                ? L"Encuentra a tu escuadrón, comparte tus historias y sigue la actualidad de la comunidad."
                : L"El enlace de la comunidad estará disponible cuando lo configure la administración."};
}

const wchar_t* newsCardTitle(const LauncherConfig& config) {
    return config.news_title[0] ? config.news_title : L"Bienvenido al frente";
}

const wchar_t* newsCardBody(const LauncherConfig& config) {
    return config.news_body[0] ? config.news_body
                               : L"Reúne a tu escuadrón y escribe tu historia en la Orvane.";
}

const wchar_t* playSubtitle(const LauncherConfig& config) {
    return config.server[0] ? config.server : L"Garry's Mod  ·  Iniciar desde Steam";
}

const wchar_t* communityLabel(const LauncherConfig& config) {
    return config.community[0] ? L"ABRIR COMUNIDAD" : L"VER COMUNIDAD";
}

namespace {

const wchar_t kOfficialPage[] = L"Se abrirá la pantalla oficial para que aceptes";

std::wstring notLinkedDetail(int row, const LinkState& link) {
    if (row == 0)
        return kOfficialPage;
    if (!link.steamLinked)
        return L"Vincula primero tu cuenta de Steam";
    if (link.configLoaded && !link.discordEnabled)
        return L"Pendiente de configurar por administración";
    return kOfficialPage;
}

LinkRowView rowView(int row, const LinkState& link, const UiState& ui) {
    const bool linked = row == 0 ? link.steamLinked : link.discordLinked;
    bool live = link.configLoaded && !link.busy && !linked && !ui.awaitingBrowser;
    if (row == 1)
        live = live && link.discordEnabled && link.steamLinked;
    const HitTarget button = row == 0 ? LinkSteamButton : LinkDiscordButton;
    if (linked)
        return {row == 0 ? link.steamName : link.discordName,
                true,
                false,
                0x642C5F5A,
                L"VINCULADO  ✓",
                ThemeText};
    if (live)
        return {notLinkedDetail(row, link),
                false,
                true,
                ui.hover == button ? 0xFFF65C4D : ThemeAccent,
                L"VINCULAR",
                ThemeText};
    return {notLinkedDetail(row, link), false, false, 0xC8283647, L"VINCULAR", ThemeTextMuted};
}

const wchar_t* baseStatusLine(const LinkState& link) {
    if (link.busy)
        return L"Conectando con OrvaneGaming…";
    if (link.ready)
        return L"Todo listo. Tu escuadrón te espera.";
    if (link.linkPending)
        return L"Completa la autorización en tu navegador. Se comprobará automáticamente.";
    return L"Pulsa Vincular y acepta en Steam y Discord. La vinculación se detectará sola.";
}

} // namespace

LinkingCardView linkingCardView(const LinkState& link, const UiState& ui) {
    LinkingCardView view{};
    view.rows[0] = rowView(0, link, ui);
    view.rows[1] = rowView(1, link, ui);

    if (!link.message.empty()) {
        view.hasError = true;
        view.errorText = link.message;
    } else if (ui.statusIsError) {
        view.hasError = true;
        view.errorText = ui.statusText;
    } else if (ui.awaitingBrowser ||
               (!link.busy && !link.linkPending && !link.ready && ui.statusText[0] != L'\0')) {
        view.statusLine = ui.statusText;
    } else {
        view.statusLine = baseStatusLine(link);
    }
    view.retryColour = ui.hover == RetryButton ? ThemeText : ThemeTextMuted;
    view.signOutShown = signOutOffered(link);
    view.signOutLabel = ui.signOutArmed ? L"CONFIRMAR CIERRE" : L"CERRAR SESIÓN";
    // Armed, it takes the error line's colour: the next press ends the session.
    view.signOutColour = ui.signOutArmed             ? 0xFFFCA799
                         : ui.hover == SignOutButton ? ThemeText
                                                     : ThemeTextMuted;
    view.continueFill = link.ready ? ThemeAccent : 0xDC223142;
    view.continueLabel = link.ready ? L"CONTINUAR  →" : L"COMPLETA LA VINCULACIÓN";
    view.continueLabelColour = link.ready ? ThemeText : ThemeTextMuted;
    return view;
}
