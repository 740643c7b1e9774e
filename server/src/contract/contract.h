#pragma once
// The service's answers, as pure handling of a request record: the launcher's endpoints, the providers'
// callbacks with the player's confirmation, the game servers' API and the admin endpoint. No socket is
// touched here; every path the service answers is one row of the route table (contract/routes.cpp).
//
// Accounts and pairs (storage/link_store.h): a session signs in to a pair by proving its Steam account; a
// Discord account belongs to at most one pair. 409 answers only these cases, where the player must not
// silently lose an account:
//   - POST /link/steam or /link/discord when the session already holds an account of that provider (the
//     launcher offers linking only for an empty row; logging out releases the session, not the pair);
//   - a Steam callback that proves another Steam account than the one the session is signed in to (two
//     authorisations were open at once): the first one proved stays, the page says so.
#include "config/service_config.h"
#include "contract/provider_calls.h"
#include "contract/rate_limit.h"
#include "storage/link_store.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

inline const std::string BasePath = "/orvane-launcher/v1/9e3f51d0";

struct Request {
    std::string method;
    std::string path;  // without the query
    std::string query; // after '?', still percent-encoded
    std::string authorization;
    std::string clientAddress;
    std::string body;
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Why a callback was refused, from a fixed set of kinds (never a value from the request): the log line
    // and the metrics carry it. Empty for every other answer.
    std::string reason;
};

// The game-server keys as last read from the store: a key revoked by the command line is refused once this
// is read again, within KeyCacheSeconds.
struct KeyCache {
    std::mutex lock;
    std::vector<GameServerKey> keys;
    std::int64_t readAtMs = 0;
    bool read = false;
};

// The configuration as one request sees it. A reload (SIGHUP) replaces it whole, so a request that began
// with one snapshot ends with it while the next ones read the new one.
struct ServiceSettings {
    ServiceConfig config;
    std::string configDocument; // GET /config is the same for every player: built once per snapshot
};

struct Service {
    std::mutex settingsLock; // held only to copy or replace the pointer
    std::shared_ptr<const ServiceSettings> settings;
    LinkStore* store = nullptr;
    ProviderCalls providers;
    RateLimiter newSessions;
    RateLimiter everyRequest; // players, per client address
    RateLimiter linkStarts;   // POST /link/..., per client address
    RateLimiter callbacks;    // the browser's return and the confirmation form, per client address
    RateLimiter perKey;       // game servers and the admin, per key
    KeyCache gameServerKeys;
};

// The configuration document, or empty when it would exceed what the launcher reads.
std::string configDocumentOf(const ServiceConfig& config);

// Sets up the service's fixed parts; false when the configuration document does not fit the launcher.
bool prepareService(Service& service, const ServiceConfig& config, LinkStore& store, ProviderCalls providers);

// The snapshot in use; held by the caller for as long as it reads it.
std::shared_ptr<const ServiceSettings> settingsOf(Service& service);
// Puts config in use for the requests that start from now on; false, keeping the snapshot in use, when its
// configuration document does not fit the launcher.
bool replaceSettings(Service& service, const ServiceConfig& config);

Response handleRequest(Service& service, const Request& request, std::int64_t nowMs);

// The route a request names, for logs and metrics: "config", "link/steam", "admin/players" ... or "other";
// never the raw path, whose tail an admin request or a stranger chooses.
std::string routeName(const std::string& method, const std::string& path);

// Requests that wait on Steam or Discord, which the edge runs away from its network threads.
bool callsProvider(const Request& request);
// The page for such a request when too many already wait: nothing was read or spent, so the same address
// works again in a moment.
Response providersBusyPage();
