// The launcher's endpoints: its configuration, sessions, link status and the start of a link.
#include "config/document_rules.h"
#include "contract/answers.h"
#include "contract/handlers.h"
#include "contract/network.h"
#include "storage/secrets.h"

using nlohmann::json;

namespace {

constexpr std::int64_t StateLifetimeSeconds = 600;
// A session's expiry moves forward on use, but written at most once an hour: polling stays a read.
constexpr std::int64_t RenewalStepSeconds = 3600;
// A session nobody links with is gone a day after its last use: sessions made by the thousand and never
// used do not stay for the configured lifetime.
constexpr std::int64_t UnlinkedLifetimeSeconds = 86400;
// Open authorisations of one session: more than a launcher ever has (one per provider, and a retry or two).
constexpr int MaxOpenStates = 5;
constexpr int StateRetryAfterSeconds = 60;

std::int64_t lifetimeSeconds(Service& service) {
    return static_cast<std::int64_t>(settingsOf(service)->config.sessionLifetimeDays) * 86400;
}

json accountJson(const std::optional<LinkedAccount>& account) {
    if (!account)
        return nullptr;
    return json{{"id", account->id}, {"display_name", account->displayName}};
}

bool isTokenShape(const std::string& token) {
    return token.size() == 43 &&
           token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
               std::string::npos;
}

enum class Found { Yes, No, Failed };

Found findSession(Service& service, const Request& request, std::int64_t now, SessionView& session) {
    std::string token = bearerOf(request.authorization);
    if (!isTokenShape(token)) {
        wipe(token);
        return Found::No;
    }
    const std::string hash = sha256Hex(token);
    wipe(token);
    switch (service.store->findSession(hash, now, session)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        return Found::No;
    default:
        return Found::Failed;
    }
    // Until it links an account a session lives a day from its last use; then its whole lifetime.
    const bool linked = session.steam || session.discord;
    const std::int64_t renewed = now + (linked ? lifetimeSeconds(service) : UnlinkedLifetimeSeconds);
    if (renewed - session.expiresAt >= RenewalStepSeconds &&
        service.store->renewSession(session.id, renewed) == StoreResult::Ok)
        session.expiresAt = renewed;
    return Found::Yes;
}

using SessionHandler = Response (*)(Service&, const Request&, const SessionView&, std::int64_t now);

// The endpoints that need the bearer's session: 401 without one.
Response withSession(Service& service, const Request& request, std::int64_t nowMs, SessionHandler handler) {
    const std::int64_t now = nowMs / 1000;
    SessionView session;
    switch (findSession(service, request, now, session)) {
    case Found::Yes:
        return handler(service, request, session, now);
    case Found::No:
        return errorAnswer(401, "session");
    default:
        return storageFailure(request);
    }
}

Response linkStatus(Service& service, const Request&, const SessionView& session, std::int64_t) {
    return jsonAnswer(200, json{{"steam", accountJson(session.steam)},
                                {"discord", accountJson(session.discord)},
                                {"expires_at", timestampOf(session.expiresAt)},
                                {"ready", sessionReady(settingsOf(service)->config, session)}});
}

// A fresh state bound to the session, the provider and the launcher's network; for Discord, with the PKCE
// verifier its code must be redeemed with.
Response startLink(Service& service, const Request& request, Provider provider, const SessionView& session,
                   std::int64_t now) {
    if ((provider == Provider::Steam ? session.steam : session.discord).has_value())
        return errorAnswer(409, "already_linked");
    std::string state;
    StateRecord record{
        session.id, provider, networkOf(request.clientAddress), now, now + StateLifetimeSeconds, {}};
    if (!newRandomToken(state) || (provider == Provider::Discord && !newRandomToken(record.verifier)))
        return errorAnswer(500, "no_random_source");
    const StoreResult stored = service.store->createState(sha256Hex(state), record, MaxOpenStates);
    if (stored != StoreResult::Ok) {
        wipe(state);
        wipe(record.verifier);
        if (stored != StoreResult::Conflict)
            return storageFailure(request);
        return tooManyAnswer("too_many_states", StateRetryAfterSeconds);
    }
    const std::shared_ptr<const ServiceSettings> settings = settingsOf(service);
    const ServiceConfig& config = settings->config;
    std::string url = provider == Provider::Steam
                          ? service.providers.steamLoginUrl(config.publicHost, state)
                          : service.providers.discordAuthorizationUrl(
                                DiscordApp{config.discordClientId, config.discordClientSecret},
                                config.publicHost, state, record.verifier);
    wipe(state);
    wipe(record.verifier);
    if (url.empty() || url.size() > limits::LinkUrlBytes)
        return errorAnswer(500, "authorisation_url");
    Response response = jsonAnswer(200, json{{"url", url}});
    wipe(url);
    return response;
}

Response logout(Service& service, const Request& request, const SessionView& session, std::int64_t) {
    return service.store->revokeSession(session.id) == StoreResult::Ok ? jsonAnswer(200, json::object())
                                                                       : storageFailure(request);
}

} // namespace

bool sessionReady(const ServiceConfig& config, const SessionView& session) {
    if (session.banned)
        return false;
    if (!config.requireLinking)
        return true;
    return session.steam && (session.discord || !discordEnabled(config));
}

std::string bearerOf(const std::string& authorization) {
    const std::string scheme = "bearer ";
    if (authorization.size() <= scheme.size())
        return {};
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != scheme[i])
            return {};
    return authorization.substr(scheme.size());
}

Response answerConfig(Service& service, const Request&, const std::string&, std::int64_t) {
    return jsonTextAnswer(200, settingsOf(service)->configDocument);
}

Response answerNewSession(Service& service, const Request& request, const std::string&, std::int64_t nowMs) {
    int retryAfter = 0;
    if (!takeRequest(service.newSessions, allowanceKeyOf(request.clientAddress), nowMs, retryAfter))
        return tooManyAnswer("too_many_sessions", retryAfter);
    const std::int64_t now = nowMs / 1000;
    std::string token;
    if (!newRandomToken(token))
        return errorAnswer(500, "no_random_source");
    const std::int64_t expiresAt = now + UnlinkedLifetimeSeconds;
    const StoreResult stored = service.store->createSession(sha256Hex(token), now, expiresAt);
    if (stored != StoreResult::Ok) {
        wipe(token);
        return storageFailure(request);
    }
    Response response = jsonAnswer(201, json{{"token", token}, {"expires_at", timestampOf(expiresAt)}});
    wipe(token);
    return response;
}

Response answerStatus(Service& service, const Request& request, const std::string&, std::int64_t nowMs) {
    return withSession(service, request, nowMs, linkStatus);
}

Response answerLinkSteam(Service& service, const Request& request, const std::string&, std::int64_t nowMs) {
    return withSession(service, request, nowMs,
                       [](Service& s, const Request& r, const SessionView& session, std::int64_t now) {
                           return startLink(s, r, Provider::Steam, session, now);
                       });
}

Response answerLinkDiscord(Service& service, const Request& request, const std::string&, std::int64_t nowMs) {
    if (!discordEnabled(settingsOf(service)->config))
        return errorAnswer(503, "discord_not_configured");
    return withSession(service, request, nowMs,
                       [](Service& s, const Request& r, const SessionView& session, std::int64_t now) {
                           return startLink(s, r, Provider::Discord, session, now);
                       });
}

Response answerLogout(Service& service, const Request& request, const std::string&, std::int64_t nowMs) {
    return withSession(service, request, nowMs, logout);
}

std::string configDocumentOf(const ServiceConfig& config) {
    json news = json::array();
    for (const NewsItem& item : config.news)
        news.push_back(json{
            {"id", item.id}, {"title", item.title}, {"body", item.body}, {"published_at", item.publishedAt}});
    const std::string document = jsonAnswer(200, json{{"server_address", config.serverAddress},
                                                      {"community_url", config.communityUrl},
                                                      {"require_linking", config.requireLinking},
                                                      {"discord_enabled", discordEnabled(config)},
                                                      {"news", news}})
                                     .body;
    return document.size() <= limits::DocumentBytes ? document : std::string();
}

bool prepareService(Service& service, const ServiceConfig& config, LinkStore& store,
                    ProviderCalls providers) {
    service.store = &store;
    service.providers = std::move(providers);
    service.newSessions.perMinute = config.sessionsPerMinute;
    service.everyRequest.perMinute = config.requestsPerMinute;
    service.linkStarts.perMinute = config.linksPerMinute;
    service.callbacks.perMinute = config.callbacksPerMinute;
    service.perKey.perMinute = config.gameServerRequestsPerMinute;
    return replaceSettings(service, config);
}

std::shared_ptr<const ServiceSettings> settingsOf(Service& service) {
    std::lock_guard guard(service.settingsLock);
    return service.settings;
}

bool replaceSettings(Service& service, const ServiceConfig& config) {
    auto fresh = std::make_shared<ServiceSettings>(ServiceSettings{config, configDocumentOf(config)});
    if (fresh->configDocument.empty())
        return false;
    std::lock_guard guard(service.settingsLock);
    service.settings = std::move(fresh);
    return true;
}
