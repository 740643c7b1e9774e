#include "link/link_exchanges.h"

#include "link/service_documents.h"
#include "link/session_store.h"
#include "link/wipe.h"

#include <winhttp.h>

#include <string_view>
#include <utility>

using json = ServiceJson;

namespace {

const wchar_t kInvalidConfig[] = L"La configuración del servicio no es válida.";
const wchar_t kInvalidStatus[] = L"El estado de vinculación recibido no es válido.";
const wchar_t kInvalidSession[] = L"La sesión recibida no es válida.";
const wchar_t kSessionNotSaved[] = L"No se pudo guardar la sesión protegida en la carpeta del launcher.";
const wchar_t kConnectFirst[] = L"Primero conecta con el servicio de la comunidad.";
const wchar_t kSteamFirst[] = L"Vincula primero tu cuenta de Steam.";
const wchar_t kInvalidLinkUrl[] = L"La dirección de vinculación recibida no es válida.";
const wchar_t kLinkTimedOut[] = L"La vinculación no se completó. Vuelve a pulsar Vincular.";

LinkState currentState(LinkServiceState& s) {
    LinkStateLock lock(s);
    return s.state;
}

bool answered(const HttpResult& result, uint32_t status) {
    return result.complete && result.status == status;
}

// One exchange with the service; every wait in it ends when the service stops.
void exchange(LinkServiceState& s, HttpResult& result, const wchar_t* method, const wchar_t* path,
              bool withToken) {
    s.transport(result, s.endpoint, method, path, withToken ? s.sessionToken.view() : std::string_view(),
                s.stopEvent);
}

// Once stop has begun nothing reaches the snapshot any more; every change below goes through here.
template <typename Change> void changeState(LinkServiceState& s, Change change) {
    LinkStateLock lock(s);
    if (isStopping(s))
        return;
    change();
    ++s.version;
    notifyWindowOfChange(s);
}

// A failed link attempt's text outlives later snapshots until that provider is linked.
void publish(LinkServiceState& s, LinkState next) {
    changeState(s, [&] {
        s.state = std::move(next);
        if (s.linkNotice.empty())
            return;
        const bool linked = s.linkProvider == SteamProvider ? s.state.steamLinked : s.state.discordLinked;
        if (linked) {
            s.linkNotice.clear();
        } else {
            s.state.message = s.linkNotice;
            s.state.ready = false;
        }
    });
}

void setServiceError(LinkServiceState& s, const std::wstring& text) {
    LinkState next = currentState(s);
    // An authorisation is still awaited only while the worker waits for one (a lost session ends it).
    next.linkPending = s.steamPending || s.discordPending;
    next.ready = false;
    next.busy = false;
    next.message = text;
    publish(s, std::move(next));
}

void setLinkError(LinkServiceState& s, const std::wstring& text, LinkProvider provider) {
    changeState(s, [&] {
        s.linkNotice = text;
        s.linkProvider = provider;
        s.state.ready = false;
        s.state.busy = false;
        s.state.message = text;
    });
}

// The links, and any authorisation awaited, belonged to the session: they go with it.
void forgetSession(LinkServiceState& s) {
    s.sessionToken.wipe();
    DeleteFileW(s.sessionPath.c_str());
    s.steamPending = false;
    s.discordPending = false;
    LinkState next = currentState(s);
    next.linkPending = false;
    next.ready = false;
    next.steamLinked = false;
    next.discordLinked = false;
    next.steamName.clear();
    next.discordName.clear();
    publish(s, std::move(next));
}

// Without a session no account is linked; the service is not asked, so no session file is made.
void showSignedOut(LinkServiceState& s) {
    LinkState next = currentState(s);
    next.steamLinked = false;
    next.discordLinked = false;
    next.steamName.clear();
    next.discordName.clear();
    next.linkPending = false;
    next.busy = false;
    next.message.clear();
    next.ready = next.configLoaded && requiredLinksPresent(next);
    publish(s, std::move(next));
}

// The new token becomes current only once the protected file holds it.
bool createSession(LinkServiceState& s) {
    HttpResult result;
    exchange(s, result, L"POST", L"/sessions", false);
    if (isStopping(s))
        return false;
    const bool issued = result.complete && (result.status == 200 || result.status == 201);
    SessionToken fresh;
    if (issued) {
        json document = parseServiceDocument(result.body);
        if (parseSession(document, fresh)) {
            if (!saveSessionToken(s.sessionPath.c_str(), fresh.view())) {
                setServiceError(s, kSessionNotSaved);
                return false;
            }
            s.sessionToken = fresh;
            return true;
        }
    }
    setServiceError(s, issued ? kInvalidSession : messageForFailure(result, false));
    return false;
}

// The page the service sent, when it is the provider's own and does not carry the token to the
// browser; empty otherwise. Every copy of the answer's text is wiped, since a refused one may hold
// the token.
std::wstring acceptedAuthorizationUrl(LinkServiceState& s, std::string_view body, LinkProvider provider) {
    json document = parseServiceDocument(body);
    std::string url;
    std::wstring wide;
    if (parseLinkUrl(document, url)) {
        wide = utf8ToWide(url);
        const bool holdsToken =
            !s.sessionToken.empty() && url.find(s.sessionToken.view()) != std::string::npos;
        if (wide.empty() || holdsToken || !isAllowedAuthorizationUrl(wide.c_str(), provider == SteamProvider))
            wipeString(wide);
    }
    wipeString(url);
    return wide;
}

} // namespace

const wchar_t kDiscordNotConfiguredText[] = L"El administrador aún no ha configurado Discord";
const wchar_t kLinkServiceStoppedText[] = L"No se pudo iniciar el servicio de vinculación.";

void clearLinkNotice(LinkServiceState& s) {
    changeState(s, [&] {
        s.linkNotice.clear();
        s.state.message.clear();
    });
}

void beginBusy(LinkServiceState& s) {
    LinkState next = currentState(s);
    next.ready = false;
    next.busy = true;
    next.message.clear();
    publish(s, std::move(next));
}

bool fetchConfig(LinkServiceState& s) {
    HttpResult result;
    exchange(s, result, L"GET", L"/config", false);
    if (isStopping(s))
        return false;
    LinkState next = currentState(s);
    if (answered(result, 200) && parseConfig(parseServiceDocument(result.body), next)) {
        next.ready = next.ready && requiredLinksPresent(next) && !next.linkPending;
        next.message.clear();
        publish(s, std::move(next));
        return true;
    }
    next.configLoaded = false;
    next.ready = false;
    next.busy = false;
    next.message = answered(result, 200) ? kInvalidConfig : messageForFailure(result, false);
    publish(s, std::move(next));
    return false;
}

bool pollStatus(LinkServiceState& s) {
    if (!s.sessionLoaded) {
        s.sessionToken = loadSessionToken(s.sessionPath.c_str());
        s.sessionLoaded = true;
    }
    if (s.sessionToken.empty() && s.signedOut) {
        showSignedOut(s);
        return true;
    }
    if (s.sessionToken.empty() && !createSession(s))
        return false;
    HttpResult first;
    exchange(s, first, L"GET", L"/session", true);
    if (isStopping(s))
        return false;
    // An expired session is renewed once; a second 401 is reported, not chased.
    HttpResult renewed;
    const HttpResult* result = &first;
    if (first.status == 401) {
        forgetSession(s);
        if (!createSession(s))
            return false;
        exchange(s, renewed, L"GET", L"/session", true);
        if (isStopping(s))
            return false;
        result = &renewed;
    }
    LinkState next = currentState(s);
    if (answered(*result, 200) && parseLinkStatus(parseServiceDocument(result->body), next)) {
        if (next.steamLinked)
            s.steamPending = false;
        if (next.discordLinked)
            s.discordPending = false;
        next.linkPending = s.steamPending || s.discordPending;
        next.ready = next.ready && !next.linkPending;
        next.busy = false;
        next.message.clear();
        publish(s, std::move(next));
        return true;
    }
    setServiceError(s, answered(*result, 200) ? kInvalidStatus : messageForFailure(*result, false));
    return false;
}

void startLink(LinkServiceState& s, LinkProvider provider) {
    clearLinkNotice(s);
    const LinkState current = currentState(s);
    const bool discord = provider == DiscordProvider;
    if (!current.configLoaded)
        return setLinkError(s, kConnectFirst, provider);
    if (discord && !current.steamLinked)
        return setLinkError(s, kSteamFirst, DiscordProvider);
    if (discord && !current.discordEnabled)
        return setLinkError(s, kDiscordNotConfiguredText, DiscordProvider);
    if (discord ? current.discordLinked : current.steamLinked)
        return;
    // A link needs a session: after a sign-out this is where the next one begins.
    s.signedOut = false;
    if (s.sessionToken.empty() && !pollStatus(s))
        return setLinkError(s, currentState(s).message, provider);

    beginBusy(s);
    HttpResult result;
    exchange(s, result, L"POST", discord ? L"/link/discord" : L"/link/steam", true);
    if (isStopping(s))
        return;
    if (!answered(result, 200))
        return setLinkError(s, messageForFailure(result, discord), provider);
    std::wstring url = acceptedAuthorizationUrl(s, result.body, provider);
    if (url.empty())
        return setLinkError(s, kInvalidLinkUrl, provider);

    (discord ? s.discordPending : s.steamPending) = true;
    s.linkStartedAt = linkServiceNow(s);
    changeState(s, [&] {
        s.state.ready = false;
        s.state.busy = false;
        s.state.linkPending = true;
        s.state.message.clear();
        s.browserUrl = std::move(url);
    });
}

void timeOutLink(LinkServiceState& s) {
    const LinkProvider provider = s.steamPending ? SteamProvider : DiscordProvider;
    s.steamPending = false;
    s.discordPending = false;
    LinkState next = currentState(s);
    next.linkPending = false;
    next.ready = false;
    publish(s, std::move(next));
    setLinkError(s, kLinkTimedOut, provider);
}

void logout(LinkServiceState& s) {
    clearLinkNotice(s);
    beginBusy(s);
    // A session never read from disk is still valid at the service: revoke it too.
    if (!s.sessionLoaded) {
        s.sessionToken = loadSessionToken(s.sessionPath.c_str());
        s.sessionLoaded = true;
    }
    if (!s.sessionToken.empty()) {
        HttpResult ignored;
        exchange(s, ignored, L"POST", L"/logout", true);
    }
    // Forgotten whatever the service answered: on a shared computer nothing of the player may stay.
    s.signedOut = true;
    forgetSession(s);
    if (isStopping(s))
        return;
    pollStatus(s);
}

void endUnasked(LinkServiceState& s) {
    changeState(s, [&] {
        s.ended = true;
        s.linkNotice.clear();
        s.state.busy = false;
        s.state.ready = false;
        s.state.linkPending = false;
        s.state.message = kLinkServiceStoppedText;
    });
}

std::wstring messageForFailure(const HttpResult& result, bool discordContext) {
    const uint32_t status = result.status;
    if (discordContext && status == 503)
        return kDiscordNotConfiguredText;
    if (status == 401 || status == 403)
        return L"La sesión ha caducado. Pulsa Reintentar para renovarla.";
    if (status == 409)
        return L"Esta cuenta ya está vinculada a otra sesión. Contacta con administración.";
    if (status == 429)
        return L"Demasiadas solicitudes. Espera unos segundos y vuelve a intentarlo.";
    if (status >= 500)
        return L"El servicio de vinculación no está disponible. Vuelve a intentarlo.";
    if (result.error == ERROR_WINHTTP_SECURE_FAILURE)
        return L"No se pudo verificar el certificado del servicio.";
    if (status >= 300 && status <= 399)
        return L"El servicio devolvió una redirección no permitida.";
    return L"No se pudo conectar con el servicio de la comunidad. Pulsa Reintentar.";
}
