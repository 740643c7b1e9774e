// The durable player records as the launcher, the game servers and the admin see them: pairs that outlive
// sessions, bans, the game servers' keys and allowance, the player lookup and the changes feed.
#include "storage/secrets.h"
#include "support/service_fixture.h"

namespace {

using Players = ServiceFixture;

const std::string SteamA = "76561198000000001";
const std::string SteamB = "76561198000000002";
const std::string Unknown = "76561198000000099";
const std::string DiscordA = "123456789012345678";
const std::string DiscordB = "223456789012345678";

TEST_F(Players, APairOutlivesItsSessionsAndANewSessionAdoptsIt) {
    const std::string first = newSession();
    ASSERT_EQ(linkSteam(first, SteamA, "Ana").status, 200);
    ASSERT_EQ(linkDiscord(first, DiscordA, "ana").status, 200);
    EXPECT_EQ(call("POST", "/logout", first).status, 200);

    // Signing out forgot the session only; on a new PC (another network, nobody else signed in) the same
    // Steam account finds both accounts linked and is ready at once.
    nowMs += 40LL * 86400 * 1000;
    const std::string later = newSession("198.51.100.4");
    script.nextSteam = providerAccount(SteamA, "Ana");
    const Response page =
        callback("steam", "state=" + startLink(later, "steam", "198.51.100.4") + "&openid.mode=id_res",
                 "198.51.100.4");
    EXPECT_EQ(page.status, 200);
    auto document = status(later);
    EXPECT_EQ(document["steam"]["id"], SteamA);
    EXPECT_EQ(document["discord"]["id"], DiscordA);
    EXPECT_EQ(document["ready"], true);

    // A second PC signed in to the same pair needs the player's press (the account is open elsewhere), then
    // both launchers share the pair.
    const std::string second = newSession("198.51.100.4");
    script.nextSteam = providerAccount(SteamA, "Ana");
    const Response ask =
        callback("steam", "state=" + startLink(second, "steam", "198.51.100.4") + "&openid.mode=id_res",
                 "198.51.100.4");
    ASSERT_EQ(confirm(confirmationToken(ask), "confirm", "198.51.100.4").status, 200);
    EXPECT_EQ(status(second)["discord"]["id"], DiscordA);
    EXPECT_EQ(status(later)["steam"]["id"], SteamA);
}

TEST_F(Players, DiscordMovesBetweenPairsAndTheConflictsStay409) {
    const std::string ana = newSession();
    const std::string bea = newSession();
    linkSteam(ana, SteamA);
    linkSteam(bea, SteamB);
    ASSERT_EQ(linkDiscord(ana, DiscordA).status, 200);
    EXPECT_EQ(call("POST", "/link/discord", ana).status, 409);
    EXPECT_EQ(call("POST", "/link/steam", ana).status, 409);

    // Bea proves Ana's Discord: it would leave Ana's pair, so it waits for the press; then it moves.
    script.nextDiscord = providerAccount(DiscordA, "ana");
    const Response ask = callback("discord", "code=c&state=" + startLink(bea, "discord"));
    const std::string token = confirmationToken(ask);
    ASSERT_FALSE(token.empty()) << ask.body;
    EXPECT_NE(ask.body.find("pasará a esta"), std::string::npos);
    EXPECT_EQ(status(ana)["discord"]["id"], DiscordA);
    ASSERT_EQ(confirm(token, "confirm").status, 200);
    EXPECT_TRUE(status(ana)["discord"].is_null());
    EXPECT_EQ(status(bea)["discord"]["id"], DiscordA);

    // Two Steam authorisations open at once: the first account proved stays.
    const std::string cai = newSession();
    const std::string one = startLink(cai, "steam");
    const std::string two = startLink(cai, "steam");
    script.nextSteam = providerAccount("76561198000000003", "Cai");
    EXPECT_EQ(callback("steam", "state=" + one).status, 200);
    script.nextSteam = providerAccount("76561198000000004", "Otro");
    EXPECT_EQ(callback("steam", "state=" + two).status, 409);
    EXPECT_EQ(status(cai)["steam"]["id"], "76561198000000003");
}

TEST_F(Players, GameServersReadEveryPlayerByTheRuleWithKeysOfTheirOwn) {
    const std::string key = addGameServerKey(*store, "rp-1");
    const std::string ana = newSession();
    linkSteam(ana, SteamA);
    linkSteam(newSession(), SteamB);
    linkDiscord(ana, DiscordA);
    const auto player = [&](const std::string& id) {
        return json(call("GET", "/gameserver/players/" + id, key));
    };

    struct Case {
        bool requireLinking, discord;
        bool anaReady, beaReady, unknownReady;
        const char* rule;
    };
    const Case cases[] = {
        {true, true, true, false, false, "steam+discord"},
        {true, false, true, true, false, "steam"},
        {false, true, true, true, true, "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        ServiceConfig config = fixtureConfig();
        config.requireLinking = c.requireLinking;
        if (!c.discord)
            config.discordClientSecret.clear();
        start(config);
        EXPECT_EQ(player(SteamA),
                  (nlohmann::json{
                      {"steam", SteamA}, {"discord", DiscordA}, {"ready", c.anaReady}, {"banned", false}}));
        EXPECT_EQ(player(SteamB)["ready"], c.beaReady);
        EXPECT_EQ(
            player(Unknown),
            (nlohmann::json{
                {"steam", Unknown}, {"discord", nullptr}, {"ready", c.unknownReady}, {"banned", false}}));
        EXPECT_EQ(json(call("GET", "/gameserver/changes", key))["rule"], c.rule);
    }

    // What refuses a game server's request.
    start(fixtureConfig());
    EXPECT_EQ(call("GET", "/gameserver/players/7656119800000000x", key).status, 400);
    for (const std::string& credential :
         {std::string(), std::string(43, 'k'), fixtureConfig().adminApiKey, ana}) {
        const Response refused = call("GET", "/gameserver/players/" + SteamA, credential);
        EXPECT_EQ(refused.status, 401);
        EXPECT_EQ(headerOf(refused, "WWW-Authenticate"), "Bearer");
    }
    // A key revoked from the command line is refused once the keys are read again (5 s).
    ASSERT_EQ(store->revokeGameServerKey("rp-1"), StoreResult::Ok);
    EXPECT_EQ(call("GET", "/gameserver/players/" + SteamA, key).status, 200);
    nowMs += 5000;
    EXPECT_EQ(call("GET", "/gameserver/players/" + SteamA, key).status, 401);
}

TEST_F(Players, AKeysAllowanceIsItsOwnNotThePlayersPerAddressLimit) {
    ServiceConfig config = fixtureConfig();
    config.requestsPerMinute = 5;
    config.gameServerRequestsPerMinute = 20;
    start(config);
    const std::string one = addGameServerKey(*store, "rp-1");
    const std::string two = addGameServerKey(*store, "rp-2");
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(call("GET", "/gameserver/changes", one).status, 200) << i;
    const Response spent = call("GET", "/gameserver/changes", one);
    EXPECT_EQ(spent.status, 429);
    EXPECT_EQ(headerOf(spent, "Retry-After"), "3");
    EXPECT_EQ(call("GET", "/gameserver/changes", two).status, 200);
    // The players at the same address still have their own five.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(call("GET", "/config").status, 200);
    EXPECT_EQ(call("GET", "/config").status, 429);
    EXPECT_EQ(call("GET", "/admin/players/" + SteamA, config.adminApiKey).status, 404);
}

TEST_F(Players, TheFeedListsEveryChangeInOrderAndPages) {
    const std::string key = addGameServerKey(*store, "rp-1");
    const std::string admin = fixtureConfig().adminApiKey;
    const auto page = [&](std::int64_t since, const std::string& limit = "") {
        const Response response =
            call("GET", "/gameserver/changes", key,
                 "since=" + std::to_string(since) + (limit.empty() ? "" : "&limit=" + limit));
        EXPECT_EQ(response.status, 200) << response.body;
        return json(response);
    };
    const auto first = page(0);
    EXPECT_EQ(
        first,
        (nlohmann::json{
            {"rule", "steam+discord"}, {"changes", nlohmann::json::array()}, {"next", 0}, {"more", false}}));

    const std::string ana = newSession();
    linkSteam(ana, SteamA);
    linkDiscord(ana, DiscordA);
    linkSteam(newSession(), SteamB);
    auto all = page(0);
    ASSERT_EQ(all["changes"].size(), 2u);
    EXPECT_EQ(all["changes"][0]["steam"], SteamA);
    EXPECT_EQ(all["changes"][0]["ready"], true);
    EXPECT_EQ(all["changes"][1]["steam"], SteamB);
    EXPECT_LT(all["changes"][0]["cursor"], all["changes"][1]["cursor"]);
    const std::int64_t mark = all["next"];

    // A ban, an unlink and a ban of an account nobody linked each come after the mark.
    ASSERT_EQ(call("POST", "/admin/players/" + SteamB + "/ban", admin).status, 400); // no reason
    Request ban{"POST",
                BasePath + "/admin/players/" + SteamB + "/ban",
                "",
                "Bearer " + admin,
                "203.0.113.9",
                "{\"reason\":\"trampas\"}"};
    const Response banned = handleRequest(service, ban, nowMs);
    ASSERT_EQ(banned.status, 200) << banned.body;
    EXPECT_EQ(json(banned)["ban_reason"], "trampas");
    ASSERT_EQ(store->unlinkPlayer(SteamA, nowMs / 1000), StoreResult::Ok);
    ban.path = BasePath + "/admin/players/" + Unknown + "/ban";
    ASSERT_EQ(handleRequest(service, ban, nowMs).status, 200);
    const auto later = page(mark);
    ASSERT_EQ(later["changes"].size(), 3u);
    const nlohmann::json expected = {
        {{"steam", SteamB}, {"discord", nullptr}, {"ready", false}, {"banned", true}},
        {{"steam", SteamA}, {"discord", nullptr}, {"ready", false}, {"banned", false}},
        {{"steam", Unknown}, {"discord", nullptr}, {"ready", false}, {"banned", true}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        nlohmann::json entry = later["changes"][i];
        EXPECT_GT(entry["cursor"].get<std::int64_t>(), mark);
        entry.erase("cursor");
        EXPECT_EQ(entry, expected[i]);
    }
    // Paged: two of three, then the rest.
    const auto head = page(mark, "2");
    EXPECT_EQ(head["more"], true);
    const auto tail = page(head["next"]);
    EXPECT_EQ(tail["changes"].size(), 1u);
    EXPECT_EQ(tail["more"], false);
    EXPECT_EQ(page(tail["next"])["changes"].size(), 0u);
    // Bounds of the parameters.
    for (const char* bad : {"since=-1", "since=x", "since=9007199254740992", "since=1&since=2"})
        EXPECT_EQ(json(call("GET", "/gameserver/changes", key, bad))["error"], "since") << bad;
    for (const char* bad : {"limit=0", "limit=5001", "limit=1e3"})
        EXPECT_EQ(json(call("GET", "/gameserver/changes", key, bad))["error"], "limit") << bad;
}

TEST_F(Players, ABannedAccountCannotLinkAndIsNeverReady) {
    const std::string admin = fixtureConfig().adminApiKey;
    const std::string ana = newSession();
    linkSteam(ana, SteamA);
    linkDiscord(ana, DiscordA);
    ASSERT_EQ(store->banPlayer(SteamA, "trampas", nowMs / 1000), StoreResult::Ok);
    EXPECT_EQ(status(ana)["ready"], false);
    const auto found = json(call("GET", "/admin/players/" + SteamA, admin));
    EXPECT_EQ(found["banned"], true);
    EXPECT_EQ(found["discord"]["id"], DiscordA);

    // Proving a banned account links nothing, and the page says why.
    const std::string other = newSession();
    ASSERT_EQ(store->banPlayer(SteamB, "multicuenta", nowMs / 1000), StoreResult::Ok);
    const Response page = linkSteam(other, SteamB);
    EXPECT_EQ(page.status, 403);
    EXPECT_NE(page.body.find("Cuenta bloqueada"), std::string::npos);
    EXPECT_EQ(page.reason, "banned");
    EXPECT_TRUE(status(other)["steam"].is_null());

    Request unban{
        "POST", BasePath + "/admin/players/" + SteamA + "/unban", "", "Bearer " + admin, "203.0.113.9", ""};
    EXPECT_EQ(handleRequest(service, unban, nowMs).status, 200);
    EXPECT_EQ(handleRequest(service, unban, nowMs).status, 404);
    EXPECT_EQ(status(ana)["ready"], true);
}

TEST_F(Players, TheAdminLookupTellsSteamOnlyFromUnknown) {
    ServiceConfig config = fixtureConfig();
    config.discordClientSecret.clear();
    start(config);
    const std::string admin = config.adminApiKey;
    const std::string token = newSession();
    linkSteam(token, SteamA, "Ana");
    EXPECT_EQ(status(token)["ready"], true);
    const Response found = call("GET", "/admin/players/" + SteamA, admin);
    ASSERT_EQ(found.status, 200);
    const auto document = json(found);
    EXPECT_EQ(document["steam"]["display_name"], "Ana");
    EXPECT_TRUE(document["discord"].is_null());
    EXPECT_EQ(document["ready"], true);
    EXPECT_EQ(document["how"], "launcher");
    EXPECT_EQ(call("GET", "/admin/players/" + Unknown, admin).status, 404);
    EXPECT_EQ(call("GET", "/admin/players/" + SteamA, token).status, 401);
    EXPECT_EQ(call("POST", "/admin/players/" + SteamA + "/delete", admin).status, 404);
    config.adminApiKey.clear();
    start(config);
    EXPECT_EQ(call("GET", "/admin/players/" + SteamA, admin).status, 403);
}

} // namespace
