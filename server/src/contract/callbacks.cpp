// The pages the player's browser lands on after Steam or Discord: the state is matched and spent first,
// then the provider's answer is verified by the provider flows, then the account is linked.
#include "config/document_rules.h"
#include "contract/answers.h"
#include "storage/secrets.h"

namespace {

constexpr std::size_t MaxQueryParams = 64;

const char* nameOf(Provider provider) {
    return provider == Provider::Steam ? "Steam" : "Discord";
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool percentDecode(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            if (i + 2 >= text.size())
                return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return true;
}

bool parseQuery(const std::string& text, QueryParams& params) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('&', at), text.size());
        const std::string pair = text.substr(at, end - at);
        at = end + 1;
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        std::string key, value;
        if (!percentDecode(pair.substr(0, equals), key) ||
            !percentDecode(equals == std::string::npos ? std::string() : pair.substr(equals + 1), value))
            return false;
        if (params.size() == MaxQueryParams)
            return false;
        params.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

// The one state of the query, or empty when there is none or more than one.
std::string stateOf(const QueryParams& params) {
    std::string state;
    int count = 0;
    for (const auto& [key, value] : params)
        if (key == "state" && ++count == 1)
            state = value;
    return count == 1 && state.size() == 43 ? state : std::string();
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

Response verifyAndLink(Service& service, Provider provider, const QueryParams& query,
                       const std::string& state, std::int64_t now) {
    std::int64_t sessionId = 0;
    switch (service.store->consumeState(sha256Hex(state), provider, now, sessionId)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        return pageAnswer(
            400, "Enlace caducado o ya usado",
            "Este enlace de autorización ya no sirve: caduca a los diez minutos y solo se puede usar "
            "una vez." +
                AgainHint);
    default:
        return storageFailurePage("No se pudo completar la vinculación.");
    }
    const ServiceConfig& config = service.config;
    const ProviderResult result =
        provider == Provider::Steam
            ? service.providers.verifySteam(query, service.providers.steamReturnTo(config.publicHost, state),
                                            now, *service.store)
            : service.providers.completeDiscord(
                  query, DiscordApp{config.discordClientId, config.discordClientSecret}, config.publicHost);
    if (result.failure != ProviderFailure::None || !isAccountId(result.account.id))
        return failurePage(
            result.failure == ProviderFailure::None ? ProviderFailure::Refused : result.failure, provider);
    const LinkedAccount account{result.account.id,
                                fitDisplayName(result.account.displayName, result.account.id)};
    switch (service.store->link(sessionId, provider, account, now)) {
    case StoreResult::Ok:
        return pageAnswer(200, "Cuenta de " + std::string(nameOf(provider)) + " vinculada",
                          "La cuenta «" + account.displayName +
                              "» ha quedado vinculada. Ya puedes cerrar esta página y volver al launcher.");
    case StoreResult::Conflict:
        return pageAnswer(409, "Ya hay otra cuenta vinculada",
                          "Esta sesión ya tiene otra cuenta de " + std::string(nameOf(provider)) +
                              " vinculada y se mantiene. Si quieres cambiarla, contacta con administración.");
    default:
        return storageFailurePage("No se pudo guardar la vinculación.");
    }
}

} // namespace

Response handleCallback(Service& service, Provider provider, const Request& request, std::int64_t now) {
    if (provider == Provider::Discord && !discordEnabled(service.config))
        return pageAnswer(503, "Discord no está disponible",
                          "El administrador aún no ha configurado Discord.");
    QueryParams query;
    std::string state;
    Response response;
    if (parseQuery(request.query, query) && !(state = stateOf(query)).empty())
        response = verifyAndLink(service, provider, query, state, now);
    else
        response = pageAnswer(400, "Enlace no válido",
                              "Esta dirección no es una respuesta de autorización completa." + AgainHint);
    wipe(state);
    wipeValues(query);
    return response;
}
