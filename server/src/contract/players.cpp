// What the community's own programs read and change of the players: the game servers, each with a
// read-only key of its own, and the admin with the admin key. Neither is held to the players'
// per-address limits; each key spends an allowance of its own.
#include "config/document_rules.h"
#include "contract/answers.h"
#include "contract/handlers.h"
#include "storage/secrets.h"

#include <optional>

using nlohmann::json;

namespace {

// How soon a key added or revoked from the command line counts, on every instance.
constexpr std::int64_t KeyCacheMs = 5000;
constexpr int DefaultFeedPage = 1000;
constexpr int MaxFeedPage = 5000;
constexpr std::int64_t MaxCursor = 9007199254740991; // 2^53 - 1: what every JSON reader keeps exact

Response unauthorised(const char* code) {
    Response response = errorAnswer(401, code);
    response.headers.emplace_back("WWW-Authenticate", "Bearer");
    return response;
}

// The name of the game-server key the request carries, or nullopt. The keys are held as hashes, and the
// request's is compared with each in constant time.
std::optional<std::string> gameServerKeyName(Service& service, const Request& request, std::int64_t nowMs,
                                             bool& storeFailed) {
    KeyCache& cache = service.gameServerKeys;
    std::lock_guard guard(cache.lock);
    if (!cache.read || nowMs - cache.readAtMs >= KeyCacheMs || nowMs < cache.readAtMs) {
        std::vector<GameServerKey> keys;
        if (service.store->listGameServerKeys(keys) != StoreResult::Ok) {
            storeFailed = !cache.read;
        } else {
            cache.keys = std::move(keys);
            cache.read = true;
            cache.readAtMs = nowMs;
        }
    }
    std::string key = bearerOf(request.authorization);
    const std::string hash = key.empty() ? std::string() : sha256Hex(key);
    wipe(key);
    std::optional<std::string> name;
    for (const GameServerKey& each : cache.keys)
        if (!hash.empty() && sameSecret(hash, each.keyHash))
            name = each.name;
    return name;
}

// Null when the request may go on; otherwise the answer that stops it.
std::optional<Response> refuseGameServer(Service& service, const Request& request, std::int64_t nowMs) {
    bool storeFailed = false;
    const std::optional<std::string> name = gameServerKeyName(service, request, nowMs, storeFailed);
    if (storeFailed)
        return storageFailure(request);
    if (!name)
        return unauthorised("gameserver_key");
    int retryAfter = 0;
    if (!takeRequest(service.perKey, "gameserver:" + *name, nowMs, retryAfter))
        return tooManyAnswer("too_many_requests", retryAfter);
    return std::nullopt;
}

std::optional<Response> refuseAdmin(Service& service, const Request& request, std::int64_t nowMs) {
    const std::shared_ptr<const ServiceSettings> settings = settingsOf(service);
    if (settings->config.adminApiKey.empty())
        return errorAnswer(403, "admin_disabled");
    std::string key = bearerOf(request.authorization);
    const bool allowed = sameSecret(key, settings->config.adminApiKey);
    wipe(key);
    if (!allowed)
        return unauthorised("admin_key");
    int retryAfter = 0;
    if (!takeRequest(service.perKey, "admin", nowMs, retryAfter))
        return tooManyAnswer("too_many_requests", retryAfter);
    return std::nullopt;
}

// The player, or a record of an account nobody linked or banned.
StoreResult playerOf(Service& service, const std::string& steamId, PlayerRecord& player) {
    const StoreResult found = service.store->findPlayer(steamId, player);
    if (found == StoreResult::NotFound) {
        player = PlayerRecord{};
        player.steam.id = steamId;
    }
    return found;
}

json nullable(const std::optional<LinkedAccount>& account, bool full) {
    if (!account)
        return nullptr;
    return full ? json{{"id", account->id}, {"display_name", account->displayName}} : json(account->id);
}

json gameServerDocument(const ServiceConfig& config, const PlayerRecord& player) {
    return json{{"steam", player.steam.id},
                {"discord", nullable(player.discord, false)},
                {"ready", playerReady(config, player)},
                {"banned", player.banned}};
}

json adminDocument(const ServiceConfig& config, const PlayerRecord& player) {
    return json{{"steam", player.linked ? nullable(player.steam, true) : json{{"id", player.steam.id}}},
                {"discord", nullable(player.discord, true)},
                {"linked_at", player.linked ? json(timestampOf(player.linkedAt)) : json(nullptr)},
                {"how", player.linked ? json(player.how) : json(nullptr)},
                {"ready", playerReady(config, player)},
                {"banned", player.banned},
                {"ban_reason", player.banned ? json(player.banReason) : json(nullptr)}};
}

const char* ruleOf(const ServiceConfig& config) {
    if (!config.requireLinking)
        return "none";
    return discordEnabled(config) ? "steam+discord" : "steam";
}

// A whole number within [low, high] written in plain digits; the default when the parameter is absent.
bool readNumber(const QueryParams& query, const char* name, std::int64_t low, std::int64_t high,
                std::int64_t fallback, std::int64_t& value) {
    int count = 0;
    std::string text;
    for (const auto& [key, each] : query)
        if (key == name && ++count)
            text = each;
    if (count == 0) {
        value = fallback;
        return true;
    }
    if (count > 1 || text.empty() || text.size() > 16 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

} // namespace

bool isSteamId(const std::string& text) {
    return text.size() == 17 && text.find_first_not_of("0123456789") == std::string::npos;
}

bool playerReady(const ServiceConfig& config, const PlayerRecord& player) {
    if (player.banned)
        return false;
    if (!config.requireLinking)
        return true;
    return player.linked && (player.discord || !discordEnabled(config));
}

Response answerGameServerPlayer(Service& service, const Request& request, const std::string& steamId,
                                std::int64_t nowMs) {
    if (std::optional<Response> refused = refuseGameServer(service, request, nowMs))
        return *refused;
    if (!isSteamId(steamId))
        return errorAnswer(400, "steam_id");
    PlayerRecord player;
    if (playerOf(service, steamId, player) == StoreResult::Failed)
        return storageFailure(request);
    return jsonAnswer(200, gameServerDocument(settingsOf(service)->config, player));
}

Response answerGameServerChanges(Service& service, const Request& request, const std::string&,
                                 std::int64_t nowMs) {
    if (std::optional<Response> refused = refuseGameServer(service, request, nowMs))
        return *refused;
    QueryParams query;
    std::int64_t since = 0, limit = 0;
    if (!parseQuery(request.query, query) || !readNumber(query, "since", 0, MaxCursor, 0, since))
        return errorAnswer(400, "since");
    if (!readNumber(query, "limit", 1, MaxFeedPage, DefaultFeedPage, limit))
        return errorAnswer(400, "limit");
    std::vector<PlayerChange> changes;
    const std::shared_ptr<const ServiceSettings> settings = settingsOf(service);
    if (service.store->changesSince(since, static_cast<int>(limit), changes) != StoreResult::Ok)
        return storageFailure(request);
    json entries = json::array();
    for (const PlayerChange& change : changes) {
        PlayerRecord player;
        player.steam.id = change.steamId;
        player.linked = change.linked;
        player.banned = change.banned;
        if (change.discordId)
            player.discord = LinkedAccount{*change.discordId, {}};
        json entry = gameServerDocument(settings->config, player);
        entry["cursor"] = change.cursor;
        entries.push_back(std::move(entry));
    }
    const std::int64_t next = changes.empty() ? since : changes.back().cursor;
    return jsonAnswer(200, json{{"rule", ruleOf(settings->config)},
                                {"changes", std::move(entries)},
                                {"next", next},
                                {"more", static_cast<std::int64_t>(changes.size()) == limit}});
}

Response answerAdminPlayer(Service& service, const Request& request, const std::string& steamId,
                           std::int64_t nowMs) {
    if (std::optional<Response> refused = refuseAdmin(service, request, nowMs))
        return *refused;
    if (!isSteamId(steamId))
        return errorAnswer(400, "steam_id");
    PlayerRecord player;
    switch (playerOf(service, steamId, player)) {
    case StoreResult::Ok:
        return jsonAnswer(200, adminDocument(settingsOf(service)->config, player));
    case StoreResult::NotFound:
        return errorAnswer(404, "not_linked");
    default:
        return storageFailure(request);
    }
}

// POST /admin/players/{steamid}/ban with {"reason": "..."}, or /unban.
Response answerAdminChange(Service& service, const Request& request, const std::string& rest,
                           std::int64_t nowMs) {
    if (std::optional<Response> refused = refuseAdmin(service, request, nowMs))
        return *refused;
    const std::size_t slash = rest.find('/');
    const std::string steamId = rest.substr(0, slash);
    const std::string verb = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (verb != "ban" && verb != "unban")
        return errorAnswer(404, "not_found");
    if (!isSteamId(steamId))
        return errorAnswer(400, "steam_id");
    const std::int64_t now = nowMs / 1000;
    StoreResult changed = StoreResult::Failed;
    if (verb == "ban") {
        const json body = json::parse(request.body, nullptr, false);
        if (!body.is_object() || !body.contains("reason") || !body["reason"].is_string() ||
            !isBanReason(body["reason"].get<std::string>()))
            return errorAnswer(400, "reason");
        changed = service.store->banPlayer(steamId, body["reason"].get<std::string>(), now);
    } else {
        changed = service.store->unbanPlayer(steamId, now);
        if (changed == StoreResult::NotFound)
            return errorAnswer(404, "not_banned");
    }
    PlayerRecord player;
    if (changed != StoreResult::Ok || playerOf(service, steamId, player) == StoreResult::Failed)
        return storageFailure(request);
    return jsonAnswer(200, adminDocument(settingsOf(service)->config, player));
}
