// Every path the service answers, one row each: the edge's questions (which route, does it wait on a
// provider) and the dispatch read the same rows.
#include "contract/answers.h"
#include "contract/handlers.h"
#include "contract/network.h"

namespace {

enum class Allowance {
    PerAddress, // players: sessions_per_minute / requests_per_minute per client address
    PerKey,     // game servers and the admin: their handler spends the key's own allowance
};

struct Route {
    const char* method;
    const char* path; // under BasePath; ending in '/', a prefix whose rest the handler reads
    const char* name; // for logs and metrics
    Handler handler;
    bool callsProvider; // waits on Steam or Discord, so the edge runs it away from its network threads
    Allowance allowance;
    RateLimiter Service::*ownLimit = nullptr; // per address too, for routes an outsider could drive hard
};

constexpr Allowance Address = Allowance::PerAddress;
constexpr Allowance Key = Allowance::PerKey;

const Route Routes[] = {
    {"GET", "/config", "config", answerConfig, false, Address},
    {"POST", "/sessions", "sessions", answerNewSession, false, Address},
    {"GET", "/session", "session", answerStatus, false, Address},
    {"POST", "/link/steam", "link/steam", answerLinkSteam, false, Address, &Service::linkStarts},
    {"POST", "/link/discord", "link/discord", answerLinkDiscord, false, Address, &Service::linkStarts},
    {"POST", "/logout", "logout", answerLogout, false, Address},
    {"GET", "/callback/steam", "callback/steam", answerSteamCallback, true, Address, &Service::callbacks},
    {"GET", "/callback/discord", "callback/discord", answerDiscordCallback, true, Address,
     &Service::callbacks},
    {"POST", "/callback/confirm", "callback/confirm", answerConfirmation, false, Address,
     &Service::callbacks},
    {"GET", "/admin/players/", "admin/players", answerAdminPlayer, false, Key},
    {"POST", "/admin/players/", "admin/players/change", answerAdminChange, false, Key},
    {"GET", "/gameserver/players/", "gameserver/players", answerGameServerPlayer, false, Key},
    {"GET", "/gameserver/changes", "gameserver/changes", answerGameServerChanges, false, Key},
};

bool matches(const Route& route, const std::string& tail) {
    const std::string path = route.path;
    return path.back() == '/' ? tail.size() > path.size() && tail.compare(0, path.size(), path) == 0
                              : tail == path;
}

// The path under the base path, or false for a path outside it.
bool tailOf(const std::string& path, std::string& tail) {
    if (path.rfind(BasePath + "/", 0) != 0)
        return false;
    tail = path.substr(BasePath.size());
    return true;
}

const Route* find(const std::string& method, const std::string& path) {
    std::string tail;
    if (!tailOf(path, tail))
        return nullptr;
    const Route* samePath = nullptr;
    for (const Route& route : Routes)
        if (matches(route, tail)) {
            if (method == route.method)
                return &route;
            samePath = samePath ? samePath : &route;
        }
    return samePath;
}

std::string allowedMethods(const std::string& tail) {
    std::string allowed;
    for (const Route& route : Routes)
        if (matches(route, tail))
            allowed += (allowed.empty() ? "" : ", ") + std::string(route.method);
    return allowed;
}

} // namespace

Response handleRequest(Service& service, const Request& request, std::int64_t nowMs) {
    const Route* route = find(request.method, request.path);
    if (!route)
        return errorAnswer(404, "not_found");
    const std::string tail = request.path.substr(BasePath.size());
    if (request.method != route->method) {
        Response response = errorAnswer(405, "method");
        response.headers.emplace_back("Allow", allowedMethods(tail));
        return response;
    }
    int retryAfter = 0;
    const std::string client = allowanceKeyOf(request.clientAddress);
    if (route->allowance == Allowance::PerAddress &&
        (!takeRequest(service.everyRequest, client, nowMs, retryAfter) ||
         (route->ownLimit && !takeRequest(service.*(route->ownLimit), client, nowMs, retryAfter))))
        return tooManyAnswer("too_many_requests", retryAfter);
    const std::string prefix = route->path;
    const std::string rest = prefix.back() == '/' ? tail.substr(prefix.size()) : std::string();
    return route->handler(service, request, rest, nowMs);
}

std::string routeName(const std::string& method, const std::string& path) {
    const Route* route = find(method, path);
    return route ? route->name : "other";
}

bool callsProvider(const Request& request) {
    const Route* route = find(request.method, request.path);
    return route && route->method == request.method && route->callsProvider;
}
