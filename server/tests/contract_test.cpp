// The service's answers, driven with request records against a real SQLite file; Steam and Discord are
// scripted, so what is tested here is what the service does with their verdicts.
#include "config/document_rules.h"
#include "storage/secrets.h"
#include "support/service_fixture.h"

#include <fstream>
#include <iterator>

namespace {

using Contract = ServiceFixture;

const std::string SteamA = "76561198000000001";
const std::string SteamB = "76561198000000002";
const std::string DiscordA = "123456789012345678";

TEST_F(Contract, SessionsAreIssuedRenewedOnUseAndEndAtLogout) {
    const std::string token = newSession();
    ASSERT_EQ(token.size(), 43u);
    auto document = status(token);
    EXPECT_TRUE(document["steam"].is_null());
    EXPECT_TRUE(document["discord"].is_null());
    EXPECT_EQ(document["ready"], false);
    // Until it links an account, a session lives a day from its last use.
    EXPECT_EQ(document["expires_at"], timestampOf(FixtureStartMs / 1000 + 86400));
    nowMs += 12 * 3600 * 1000LL;
    EXPECT_EQ(status(token)["expires_at"], timestampOf(nowMs / 1000 + 86400));
    const std::string unused = newSession();
    nowMs += 86400 * 1000LL;
    EXPECT_EQ(call("GET", "/session", unused).status, 401);
    EXPECT_EQ(call("GET", "/session", token).status, 401);

    // Linked, it runs for its whole lifetime from its last use.
    const std::string linked = newSession();
    linkSteam(linked, SteamA);
    EXPECT_EQ(status(linked)["expires_at"], timestampOf(nowMs / 1000 + 30 * 86400));
    nowMs += 2 * 86400 * 1000LL;
    EXPECT_EQ(status(linked)["expires_at"], timestampOf(nowMs / 1000 + 30 * 86400));
    nowMs += 31 * 86400 * 1000LL;
    EXPECT_EQ(call("GET", "/session", linked).status, 401);

    const std::string other = newSession();
    EXPECT_EQ(call("POST", "/logout", other).status, 200);
    for (const std::string& t : {other, std::string(43, 'A'), std::string("short"), std::string()})
        EXPECT_EQ(call("GET", "/session", t).status, 401) << t;
    Request lowerCase{"GET", BasePath + "/session", "", "bearer " + newSession(), "203.0.113.9", ""};
    EXPECT_EQ(handleRequest(service, lowerCase, nowMs).status, 200);
}

TEST_F(Contract, TheDatabaseHoldsNeitherTokensNorStates) {
    const std::string token = newSession();
    const std::string state = startLink(token, "steam");
    ASSERT_EQ(state.size(), 43u);
    store.reset(); // closes a SQLite file, folding the write-ahead log into it
    const std::string bytes = databaseContents(database);
    ASSERT_NE(bytes.find(sha256Hex(token)), std::string::npos);
    EXPECT_EQ(bytes.find(token), std::string::npos);
    EXPECT_EQ(bytes.find(state), std::string::npos);
}

TEST_F(Contract, NewSessionsAreLimitedPerClientWithRetryAfter) {
    ServiceConfig config = fixtureConfig();
    config.sessionsPerMinute = 3;
    start(config);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(call("POST", "/sessions").status, 201);
    Response refused = call("POST", "/sessions");
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(headerOf(refused, "Retry-After"), "20");
    EXPECT_EQ(headerOf(refused, "Content-Type"), "application/json");
    EXPECT_EQ(call("POST", "/sessions", {}, {}, "198.51.100.1").status, 201);
    // Other endpoints are not counted against new sessions.
    EXPECT_EQ(call("GET", "/config").status, 200);
    nowMs += 20'000;
    EXPECT_EQ(call("POST", "/sessions").status, 201);
    EXPECT_EQ(call("POST", "/sessions").status, 429);

    // Every request, new sessions included, counts against the general limit.
    config.requestsPerMinute = 3;
    start(config);
    EXPECT_EQ(call("GET", "/config").status, 200);
    EXPECT_EQ(call("GET", "/session", newSession()).status, 200);
    refused = call("GET", "/config");
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(headerOf(refused, "Retry-After"), "20");
}

TEST_F(Contract, TheLinkRoadFromButtonToReady) {
    const std::string token = newSession();
    const std::string state = startLink(token, "steam");
    script.nextSteam = providerAccount(SteamA, "Ana");
    const Response page = callback("steam", "state=" + state + "&openid.mode=id_res&openid.claimed_id=x%2By");
    EXPECT_EQ(page.status, 200) << page.body;
    EXPECT_EQ(script.lastReturnTo, "https://links.example.org" + BasePath + "/callback/steam?state=" + state);
    const QueryParams expected = {{"state", state}, {"openid.mode", "id_res"}, {"openid.claimed_id", "x+y"}};
    EXPECT_EQ(script.lastQuery, expected);
    EXPECT_NE(page.body.find("Ana"), std::string::npos);
    auto document = status(token);
    EXPECT_EQ(document["steam"]["id"], SteamA);
    EXPECT_EQ(document["steam"]["display_name"], "Ana");
    EXPECT_EQ(document["ready"], false);

    // The state was spent: the same answer brought back again is not checked a second time.
    EXPECT_EQ(callback("steam", "state=" + state + "&openid.mode=id_res").status, 400);
    EXPECT_EQ(script.steamChecks, 1);

    EXPECT_EQ(linkDiscord(token, DiscordA, "ana").status, 200);
    EXPECT_EQ(script.lastQuery.front(), (std::pair<std::string, std::string>{"code", "abc"}));
    document = status(token);
    EXPECT_EQ(document["discord"]["id"], DiscordA);
    EXPECT_EQ(document["ready"], true);
}

TEST_F(Contract, ReadyFollowsTheConfiguration) {
    struct Case {
        bool requireLinking, discord, steamLinked, discordLinked, ready;
    };
    const Case cases[] = {
        {false, true, false, false, true}, {true, true, true, false, false},   {true, true, true, true, true},
        {true, false, true, false, true},  {true, false, false, false, false},
    };
    for (const Case& c : cases) {
        ServiceConfig config = fixtureConfig();
        config.requireLinking = c.requireLinking;
        if (!c.discord)
            config.discordClientSecret.clear();
        startFresh();
        start(config);
        const std::string token = newSession();
        if (c.steamLinked)
            linkSteam(token, SteamA);
        if (c.discordLinked)
            linkDiscord(token, DiscordA);
        EXPECT_EQ(status(token)["ready"], c.ready)
            << c.requireLinking << c.discord << c.steamLinked << c.discordLinked;
    }
}

TEST_F(Contract, CallbacksThatDoNotProveAnAccountLinkNothing) {
    const std::string token = newSession();
    const std::string spentState = startLink(token, "steam");
    callback("steam", "state=" + spentState);
    struct Case {
        const char* name;
        std::string query; // {state} is replaced by a fresh state for the Steam callback
        ProviderResult verdict;
        int status;
        bool checked;
    };
    ProviderResult refused, cancelled, unreachable;
    refused.failure = ProviderFailure::Refused;
    cancelled.failure = ProviderFailure::Cancelled;
    unreachable.failure = ProviderFailure::Unreachable;
    const Case cases[] = {
        {"refused by the flow", "state={state}", refused, 403, true},
        {"cancelled", "state={state}", cancelled, 200, true},
        {"provider unreachable", "state={state}", unreachable, 502, true},
        {"an id the launcher refuses", "state={state}", providerAccount("7656", "x"), 403, true},
        {"no state", "openid.mode=id_res", providerAccount(SteamA, "x"), 400, false},
        {"two states", "state={state}&state={state}", providerAccount(SteamA, "x"), 400, false},
        {"unknown state", "state=" + std::string(43, 'Q'), providerAccount(SteamA, "x"), 400, false},
        {"spent state", "state=" + spentState, providerAccount(SteamA, "x"), 400, false},
        {"bad escape", "state={state}&openid.mode=%zz", providerAccount(SteamA, "x"), 400, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string query = c.query;
        // A session of its own: the states the refused callbacks leave open count against it.
        const std::string caseToken = newSession();
        const std::string state = startLink(caseToken, "steam");
        for (std::size_t at = query.find("{state}"); at != std::string::npos; at = query.find("{state}"))
            query.replace(at, 7, state);
        script.nextSteam = c.verdict;
        const int checksBefore = script.steamChecks;
        const Response page = callback("steam", query);
        EXPECT_EQ(page.status, c.status);
        EXPECT_EQ(script.steamChecks - checksBefore, c.checked ? 1 : 0);
        EXPECT_TRUE(status(caseToken)["steam"].is_null());
    }
    // A state issued for Discord is refused on Steam's callback, and spent.
    const std::string discordState = startLink(token, "discord");
    script.nextSteam = providerAccount(SteamA, "x");
    EXPECT_EQ(callback("steam", "state=" + discordState).status, 400);
    EXPECT_EQ(callback("discord", "code=c&state=" + discordState).status, 400);
    // An expired state, after ten minutes.
    const std::string late = startLink(token, "steam");
    nowMs += 600'000;
    EXPECT_EQ(callback("steam", "state=" + late).status, 400);
    EXPECT_EQ(script.steamChecks, 5); // the first state's, then one for each refusal of the flow
    EXPECT_TRUE(status(token)["steam"].is_null());
}

TEST_F(Contract, DiscordWhileNotConfigured) {
    ServiceConfig config = fixtureConfig();
    config.requireLinking = false;
    config.discordClientId.clear();
    start(config);
    EXPECT_EQ(json(call("GET", "/config"))["discord_enabled"], false);
    EXPECT_EQ(call("POST", "/link/discord", newSession()).status, 503);
    const Response page = callback("discord", "code=c&state=" + std::string(43, 'Q'));
    EXPECT_EQ(page.status, 503);
    EXPECT_EQ(script.discordExchanges, 0);
}

TEST_F(Contract, CallbackPagesAreSpanishStaticAndEscaped) {
    const std::string token = newSession();
    const Response page = linkSteam(token, SteamA,
                                    "<img src=x onerror=alert(1)>\x01"
                                    "Ana");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(headerOf(page, "Content-Type"), "text/html; charset=utf-8");
    const std::string policy = headerOf(page, "Content-Security-Policy");
    EXPECT_EQ(policy.rfind("default-src 'none'; style-src 'sha256-", 0), 0u) << policy;
    EXPECT_EQ(headerOf(page, "Referrer-Policy"), "no-referrer");
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    EXPECT_EQ(page.body.find("<img"), std::string::npos);
    EXPECT_NE(page.body.find("&lt;img src=x onerror=alert(1)&gt;Ana"), std::string::npos);
    EXPECT_NE(page.body.find("<html lang=\"es\">"), std::string::npos);
    // The name the launcher shows lost its control character.
    EXPECT_EQ(status(token)["steam"]["display_name"], "<img src=x onerror=alert(1)>Ana");
}

TEST_F(Contract, DisplayNamesAreCutToWhatTheLauncherShows) {
    std::string emoji;
    for (int i = 0; i < 150; ++i)
        emoji += "\xF0\x9F\x8E\xAE";
    struct Case {
        std::string given, stored;
    };
    const Case cases[] = {
        {emoji, emoji.substr(0, 100 * 4)},
        {std::string(300, 'a'), std::string(200, 'a')},
        {"\x01\x02", SteamA},
        {"bad \xC0\xAF utf-8", SteamA},
    };
    for (const Case& c : cases) {
        startFresh();
        const std::string token = newSession();
        linkSteam(token, SteamA, c.given);
        EXPECT_EQ(status(token)["steam"]["display_name"], c.stored);
    }
}

// The database gone from under the service (dropped tables fail every statement on both backends): each
// answer that needs it is 503 with Retry-After, never a 200 or a 401 that would send the launcher to a new
// session; POST /link/discord answers 500, since the launcher reads its 503 as "Discord not configured".
TEST_F(Contract, AnUnusableDatabaseAnswers503AndTheConfigurationStillAnswers) {
    const std::string token = newSession();
    const std::string state = startLink(token, "steam");
    ASSERT_TRUE(runRawSql(
        database, "DROP TABLE confirmations; DROP TABLE states; DROP TABLE sessions; DROP TABLE pairs; "
                  "DROP TABLE bans; DROP TABLE nonces; DROP TABLE gameserver_keys"));
    const std::string key = fixtureConfig().adminApiKey;
    struct Case {
        const char* method;
        std::string path;
        std::string credential;
        std::string query;
        int expected;
    };
    const Case cases[] = {
        {"POST", "/sessions", "", "", 503},
        {"GET", "/session", token, "", 503},
        {"POST", "/link/steam", token, "", 503},
        {"POST", "/logout", token, "", 503},
        {"POST", "/link/discord", token, "", 500},
        {"GET", "/admin/players/" + SteamA, key, "", 503},
        {"GET", "/callback/steam", "", "state=" + state, 503},
        {"GET", "/gameserver/changes", key, "", 503},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + std::string(" ") + c.path);
        const Response response = call(c.method, c.path, c.credential, c.query);
        EXPECT_EQ(response.status, c.expected) << response.body;
        EXPECT_EQ(headerOf(response, "Retry-After"), c.expected == 503 ? "5" : "");
    }
    EXPECT_EQ(script.steamChecks, 0);
    EXPECT_EQ(call("GET", "/config").status, 200);
}

TEST_F(Contract, OnlyTheEndpointsWithTheirMethods) {
    const Response wrongMethod = call("POST", "/config");
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_EQ(headerOf(wrongMethod, "Allow"), "GET");
    EXPECT_EQ(call("GET", "/sessions").status, 405);
    EXPECT_EQ(call("GET", "/other").status, 404);
    EXPECT_EQ(call("GET", "/config/").status, 404);
    Request outside{"GET", "/config", "", "", "203.0.113.9", ""};
    EXPECT_EQ(handleRequest(service, outside, nowMs).status, 404);
    EXPECT_EQ(headerOf(call("PUT", "/admin/players/76561198000000001"), "Allow"), "GET, POST");
    EXPECT_TRUE(callsProvider(Request{"GET", BasePath + "/callback/steam", "", "", "", ""}));
    EXPECT_FALSE(callsProvider(Request{"POST", BasePath + "/callback/steam", "", "", "", ""}));
    EXPECT_FALSE(callsProvider(Request{"POST", BasePath + "/callback/confirm", "", "", "", ""}));
    const std::pair<std::string, std::string> names[] = {
        {"GET /config", "config"},
        {"GET /admin/players/76561198000000001", "admin/players"},
        {"POST /admin/players/76561198000000001/ban", "admin/players/change"},
        {"GET /gameserver/players/76561198000000001", "gameserver/players"},
        {"PUT /session", "session"},
        {"GET /session/x", "other"},
    };
    for (const auto& [request, name] : names) {
        const std::size_t space = request.find(' ');
        EXPECT_EQ(routeName(request.substr(0, space), BasePath + request.substr(space + 1)), name) << request;
    }
    EXPECT_EQ(routeName("GET", "/config"), "other");
    EXPECT_FALSE(callsProvider(Request{"GET", BasePath + "/session", "", "", "", ""}));
}

} // namespace
