// The pages the player's browser lands on after Steam or Discord: the state is matched and spent first,
// then the provider's answer is verified by the provider flows, then the account is linked, or, when the
// browser is not beside the launcher that asked or the account would leave someone else, held for the
// player's press on a confirmation page.
#include "config/document_rules.h"
#include "contract/answers.h"
#include "contract/handlers.h"
#include "contract/network.h"
#include "storage/secrets.h"

namespace {

const char* nameOf(Provider provider) {
    return provider == Provider::Steam ? "Steam" : "Discord";
}

// The one state or token of a query or form, or empty when there is none, more than one or another shape.
std::string secretOf(const QueryParams& params, std::string_view name) {
    std::string value = onlyValue(params, name);
    if (value.size() != 43)
        wipe(value);
    return value.size() == 43 ? value : std::string();
}

bool isAccountId(const std::string& id) {
    return id.size() >= limits::AccountIdMin && id.size() <= limits::AccountIdMax &&
           id.find_first_not_of("0123456789") == std::string::npos;
}

// A provider's name as the launcher shows it: control characters dropped, cut to its limits on a
// character boundary; the account id stands in for a name that is empty or not UTF-8.
std::string fitDisplayName(const std::string& name, const std::string& id) {
    if (!isValidUtf8(name))
        return id;
    std::string clean;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            clean += c;
    std::string fitted;
    for (std::size_t at = 0; at < clean.size();) {
        std::size_t length = 1;
        while (at + length < clean.size() && (static_cast<unsigned char>(clean[at + length]) & 0xC0) == 0x80)
            ++length;
        const std::string next = fitted + clean.substr(at, length);
        if (next.size() > limits::DisplayNameBytes || utf16Units(next) > limits::DisplayNameUnits)
            break;
        fitted = next;
        at += length;
    }
    return fitted.empty() ? id : fitted;
}

const std::string AgainHint = " Vuelve al launcher y pulsa «Vincular» de nuevo.";

Response failurePage(ProviderFailure failure, Provider provider) {
    const std::string name = nameOf(provider);
    switch (failure) {
    case ProviderFailure::Cancelled:
        return pageAnswer(200, "Autorización cancelada",
                          "Has cancelado la autorización en " + name +
                              ". Si quieres vincular la cuenta, vuelve al launcher y pulsa «Vincular».");
    case ProviderFailure::Unreachable:
        return pageAnswer(502, name + " no responde",
                          "No se pudo confirmar la cuenta con " + name + ". Espera un momento." + AgainHint);
    default:
        return pageAnswer(403, "No se pudo verificar la cuenta",
                          name + " no confirmó esta autorización, así que no se ha vinculado nada." +
                              AgainHint);
    }
}

void wipeValues(QueryParams& params) {
    for (auto& [key, value] : params)
        wipe(value);
}

const std::string ExpiredTitle = "Enlace caducado o ya usado";

Response bannedPage() {
    return pageAnswer(403, "Cuenta bloqueada",
                      "Esta cuenta está bloqueada en la comunidad y no se puede vincular. Si crees que es un "
                      "error, contacta con administración.");
}

Response linkNow(Service& service, const PendingLink& pending, std::int64_t now, const std::string& how) {
    const std::string provider = nameOf(pending.provider);
    switch (service.store->link(pending.sessionId, pending.provider, pending.account, now, how)) {
    case StoreResult::Ok:
        return pageAnswer(200, "Cuenta de " + provider + " vinculada",
                          "La cuenta «" + pending.account.displayName +
                              "» ha quedado vinculada. Ya puedes cerrar esta página y volver al launcher.");
    case StoreResult::Conflict:
        return pageAnswer(409, "Ya hay otra cuenta vinculada",
                          "Esta sesión ya tiene otra cuenta de " + provider +
                              " vinculada y se mantiene. Si quieres cambiarla, contacta con administración.");
    case StoreResult::Banned:
        return bannedPage();
    default:
        return storageFailurePage("No se pudo guardar la vinculación.");
    }
}

// The account proven, held until the player presses the page's button; the state's ten minutes still run.
Response askToConfirm(Service& service, const PendingLink& pending, bool otherNetwork, bool moves,
                      std::int64_t now) {
    std::string token;
    if (!newRandomToken(token))
        return storageFailurePage("No se pudo preparar la confirmación.");
    if (service.store->createConfirmation(sha256Hex(token), pending) != StoreResult::Ok) {
        wipe(token);
        return storageFailurePage("No se pudo preparar la confirmación.");
    }
    ConfirmationText text;
    text.provider = nameOf(pending.provider);
    text.account = pending.account.displayName;
    text.minutesAgo = (now - pending.requestedAt) / 60;
    text.otherNetwork = otherNetwork;
    text.moves = moves;
    Response response = confirmationPage(text, BasePath + "/callback/confirm", token);
    wipe(token);
    return response;
}

Response verifyAndLink(Service& service, Provider provider, const Request& request, const QueryParams& query,
                       const std::string& state, std::int64_t now) {
    StateRecord issued;
    switch (service.store->consumeState(sha256Hex(state), provider, now, issued)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        return pageAnswer(
            400, ExpiredTitle,
            "Este enlace de autorización ya no sirve: caduca a los diez minutos y solo se puede "
            "usar una vez." +
                AgainHint);
    default:
        return storageFailurePage("No se pudo completar la vinculación.");
    }
    const std::shared_ptr<const ServiceSettings> settings = settingsOf(service);
    const ServiceConfig& config = settings->config;
    const ProviderResult result =
        provider == Provider::Steam
            ? service.providers.verifySteam(query, service.providers.steamReturnTo(config.publicHost, state),
                                            now, *service.store)
            : service.providers.completeDiscord(
                  query, DiscordApp{config.discordClientId, config.discordClientSecret}, config.publicHost,
                  issued.verifier);
    wipe(issued.verifier);
    if (result.failure != ProviderFailure::None || !isAccountId(result.account.id)) {
        Response page = failurePage(
            result.failure == ProviderFailure::None ? ProviderFailure::Refused : result.failure, provider);
        page.reason = result.failure == ProviderFailure::None ? "account_id" : std::string(result.kind);
        return page;
    }
    const PendingLink pending{
        issued.sessionId, provider,
        LinkedAccount{result.account.id, fitDisplayName(result.account.displayName, result.account.id)},
        issued.createdAt, issued.expiresAt};
    PlayerRecord player;
    const StoreResult banned = provider == Provider::Steam
                                   ? service.store->findPlayer(pending.account.id, player)
                                   : StoreResult::NotFound;
    bool moves = false;
    if (banned == StoreResult::Failed ||
        service.store->wouldMove(pending.sessionId, provider, pending.account.id, now, moves) !=
            StoreResult::Ok)
        return storageFailurePage("No se pudo completar la vinculación.");
    if (banned == StoreResult::Ok && player.banned) {
        Response page = bannedPage();
        page.reason = "banned";
        return page;
    }
    const bool otherNetwork = issued.network.empty() || networkOf(request.clientAddress) != issued.network;
    if (otherNetwork || moves) {
        Response page = askToConfirm(service, pending, otherNetwork, moves, now);
        page.reason = otherNetwork ? "confirm_other_network" : "confirm_move";
        return page;
    }
    return linkNow(service, pending, now, "launcher");
}

Response handleCallback(Service& service, Provider provider, const Request& request, std::int64_t now) {
    if (provider == Provider::Discord && !discordEnabled(settingsOf(service)->config))
        return pageAnswer(503, "Discord no está disponible",
                          "El administrador aún no ha configurado Discord.");
    QueryParams query;
    std::string state;
    Response response;
    if (parseQuery(request.query, query) && !(state = secretOf(query, "state")).empty())
        response = verifyAndLink(service, provider, request, query, state, now);
    else
        response = pageAnswer(400, "Enlace no válido",
                              "Esta dirección no es una respuesta de autorización completa." + AgainHint);
    wipe(state);
    wipeValues(query);
    return response;
}

} // namespace

Response answerSteamCallback(Service& service, const Request& request, const std::string&,
                             std::int64_t nowMs) {
    return handleCallback(service, Provider::Steam, request, nowMs / 1000);
}

Response answerDiscordCallback(Service& service, const Request& request, const std::string&,
                               std::int64_t nowMs) {
    return handleCallback(service, Provider::Discord, request, nowMs / 1000);
}

// The confirmation page's form: token=<43 characters>&action=confirm|cancel. Either way the token is spent.
Response answerConfirmation(Service& service, const Request& request, const std::string&,
                            std::int64_t nowMs) {
    const std::int64_t now = nowMs / 1000;
    QueryParams form;
    std::string token;
    Response response;
    const bool read = parseQuery(request.body, form) && !(token = secretOf(form, "token")).empty();
    const std::string action = read ? onlyValue(form, "action") : std::string();
    PendingLink pending;
    if (action != "confirm" && action != "cancel") {
        response = pageAnswer(400, "Enlace no válido", "Esta confirmación no está completa." + AgainHint);
    } else {
        switch (service.store->consumeConfirmation(sha256Hex(token), now, pending)) {
        case StoreResult::Ok:
            response = action == "confirm"
                           ? linkNow(service, pending, now, "confirmed")
                           : pageAnswer(200, "Vinculación cancelada",
                                        "No se ha vinculado nada. Ya puedes cerrar esta página.");
            break;
        case StoreResult::NotFound:
            response =
                pageAnswer(400, ExpiredTitle,
                           "Esta confirmación ya no sirve: caduca a los diez minutos de pulsar «Vincular» "
                           "y solo se puede usar una vez." +
                               AgainHint);
            break;
        default:
            response = storageFailurePage("No se pudo completar la vinculación.");
        }
    }
    wipe(token);
    wipeValues(form);
    return response;
}
