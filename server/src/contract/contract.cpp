#include "contract/contract.h"
#include "config/document_rules.h"
#include "contract/answers.h"
#include "storage/secrets.h"

using nlohmann::json;

namespace {

constexpr std::int64_t StateLifetimeSeconds = 600;
// A session's expiry moves forward on use, but written at most once an hour: polling stays a read.
constexpr std::int64_t RenewalStepSeconds = 3600;

std::int64_t lifetimeSeconds(const Service& service) {
    return static_cast<std::int64_t>(service.config.sessionLifetimeDays) * 86400;
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

// The bearer credential of the Authorization header, or empty.
std::string bearerOf(const std::string& authorization) {
    const std::string scheme = "bearer ";
    if (authorization.size() <= scheme.size())
        return {};
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != scheme[i])
            return {};
    return authorization.substr(scheme.size());
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
    const std::int64_t renewed = now + lifetimeSeconds(service);
    if (renewed - session.expiresAt >= RenewalStepSeconds &&
        service.store->renewSession(session.id, renewed) == StoreResult::Ok)
        session.expiresAt = renewed;
    return Found::Yes;
}

bool isReady(const ServiceConfig& config, const SessionView& session) {
    if (!config.requireLinking)
        return true;
    return session.steam && (session.discord || !discordEnabled(config));
}

Response createSession(Service& service, const Request& request, std::int64_t nowMs) {
    int retryAfter = 0;
    if (!takeRequest(service.newSessions, request.clientAddress, nowMs, retryAfter)) {
        Response response = errorAnswer(429, "too_many_sessions");
        response.headers.emplace_back("Retry-After", std::to_string(retryAfter));
        return response;
    }
    const std::int64_t now = nowMs / 1000;
    std::string token;
    if (!newRandomToken(token))
        return errorAnswer(500, "no_random_source");
    const std::int64_t expiresAt = now + lifetimeSeconds(service);
    const StoreResult stored = service.store->createSession(sha256Hex(token), now, expiresAt);
    if (stored != StoreResult::Ok) {
        wipe(token);
        return storageFailure(request);
    }
    Response response = jsonAnswer(201, json{{"token", token}, {"expires_at", timestampOf(expiresAt)}});
    wipe(token);
    return response;
}

Response linkStatus(const Service& service, const SessionView& session) {
    return jsonAnswer(200, json{{"steam", accountJson(session.steam)},
                                {"discord", accountJson(session.discord)},
                                {"expires_at", timestampOf(session.expiresAt)},
                                {"ready", isReady(service.config, session)}});
}

Response startLink(Service& service, const Request& request, Provider provider, const SessionView& session,
                   std::int64_t now) {
    if ((provider == Provider::Steam ? session.steam : session.discord).has_value())
        return errorAnswer(409, "already_linked");
    std::string state;
    if (!newRandomToken(state))
        return errorAnswer(500, "no_random_source");
    if (service.store->createState(sha256Hex(state), session.id, provider, now + StateLifetimeSeconds) !=
        StoreResult::Ok) {
        wipe(state);
        return storageFailure(request);
    }
    const ServiceConfig& config = service.config;
    std::string url =
        provider == Provider::Steam
            ? service.providers.steamLoginUrl(config.publicHost, state)
            : service.providers.discordAuthorizationUrl(
                  DiscordApp{config.discordClientId, config.discordClientSecret}, config.publicHost, state);
    wipe(state);
    if (url.empty() || url.size() > limits::LinkUrlBytes)
        return errorAnswer(500, "authorisation_url");
    Response response = jsonAnswer(200, json{{"url", url}});
    wipe(url);
    return response;
}

Response adminPlayer(Service& service, const Request& request, const std::string& steamId) {
    if (service.config.adminApiKey.empty())
        return errorAnswer(403, "admin_disabled");
    std::string key = bearerOf(request.authorization);
    const bool allowed = sameSecret(key, service.config.adminApiKey);
    wipe(key);
    if (!allowed) {
        Response response = errorAnswer(401, "admin_key");
        response.headers.emplace_back("WWW-Authenticate", "Bearer");
        return response;
    }
    if (steamId.size() != 17 || steamId.find_first_not_of("0123456789") != std::string::npos)
        return errorAnswer(400, "steam_id");
    PlayerRecord player;
    switch (service.store->findPlayer(steamId, player)) {
    case StoreResult::Ok:
        break;
    case StoreResult::NotFound:
        return errorAnswer(404, "not_linked");
    default:
        return storageFailure(request);
    }
    if (!player.discord)
        return errorAnswer(404, "not_linked");
    return jsonAnswer(200,
                      json{{"steam", accountJson(player.steam)}, {"discord", accountJson(player.discord)}});
}

struct Route {
    const char* method;
    const char* path; // under BasePath
};

const Route Routes[] = {
    {"GET", "/config"},         {"POST", "/sessions"},        {"GET", "/session"},
    {"POST", "/link/steam"},    {"POST", "/link/discord"},    {"POST", "/logout"},
    {"GET", "/callback/steam"}, {"GET", "/callback/discord"},
};
const std::string AdminPlayers = "/admin/players/";

Response route(Service& service, const Request& request, const std::string& path, std::int64_t nowMs) {
    const std::int64_t now = nowMs / 1000;
    if (path.rfind(AdminPlayers, 0) == 0) {
        if (request.method != "GET")
            return errorAnswer(405, "method");
        return adminPlayer(service, request, path.substr(AdminPlayers.size()));
    }
    const Route* match = nullptr;
    for (const Route& r : Routes)
        if (path == r.path)
            match = &r;
    if (!match)
        return errorAnswer(404, "not_found");
    if (request.method != match->method) {
        Response response = errorAnswer(405, "method");
        response.headers.emplace_back("Allow", match->method);
        return response;
    }
    if (path == "/config")
        return jsonTextAnswer(200, service.configDocument);
    if (path == "/sessions")
        return createSession(service, request, nowMs);
    if (path == "/callback/steam")
        return handleCallback(service, Provider::Steam, request, now);
    if (path == "/callback/discord")
        return handleCallback(service, Provider::Discord, request, now);
    if (path == "/link/discord" && !discordEnabled(service.config))
        return errorAnswer(503, "discord_not_configured");

    SessionView session;
    switch (findSession(service, request, now, session)) {
    case Found::Yes:
        break;
    case Found::No:
        return errorAnswer(401, "session");
    case Found::Failed:
        return storageFailure(request);
    }
    if (path == "/session")
        return linkStatus(service, session);
    if (path == "/logout")
        return service.store->revokeSession(session.id) == StoreResult::Ok ? jsonAnswer(200, json::object())
                                                                           : storageFailure(request);
    return startLink(service, request, path == "/link/steam" ? Provider::Steam : Provider::Discord, session,
                     now);
}

} // namespace

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
    service.config = config;
    service.store = &store;
    service.providers = std::move(providers);
    service.newSessions.perMinute = config.sessionsPerMinute;
    service.everyRequest.perMinute = config.requestsPerMinute;
    service.configDocument = configDocumentOf(config);
    return !service.configDocument.empty();
}

Response handleRequest(Service& service, const Request& request, std::int64_t nowMs) {
    if (request.path.rfind(BasePath + "/", 0) != 0)
        return errorAnswer(404, "not_found");
    int retryAfter = 0;
    if (!takeRequest(service.everyRequest, request.clientAddress, nowMs, retryAfter)) {
        Response response = errorAnswer(429, "too_many_requests");
        response.headers.emplace_back("Retry-After", std::to_string(retryAfter));
        return response;
    }
    return route(service, request, request.path.substr(BasePath.size()), nowMs);
}

std::string routeName(const std::string& path) {
    if (path.rfind(BasePath + "/", 0) != 0)
        return "other";
    const std::string tail = path.substr(BasePath.size());
    if (tail.rfind(AdminPlayers, 0) == 0)
        return "admin/players";
    for (const Route& r : Routes)
        if (tail == r.path)
            return r.path + 1;
    return "other";
}

bool callsProvider(const Request& request) {
    return request.path.rfind(BasePath + "/callback/", 0) == 0;
}
