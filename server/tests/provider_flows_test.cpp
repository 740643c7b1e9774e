// The Steam and Discord flows against the fake providers, reached under the real host names.
// Runs under with-fake-providers.sh.
#include "provider_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

const std::string kHost = "link.example.org";
const std::string kState = "c3RhdGUtb25lLWZvci10aGUtc3Bvb2YtdGFibGUtMDAx";
const std::string kOtherState = "c3RhdGUtdHdvLWZvci10aGUtc3Bvb2YtdGFibGUtMDAy";
const std::string kSteamId = "76561198000000042";
const std::string kVerifier = "dmVyaWZpZXItb2YtdGhlLWRpc2NvcmQtZmxvdy10ZXN0";

// A failure names its kind from the fixed list, whatever the request held.
void expectListedKind(const ProviderResult& result) {
    EXPECT_FALSE(result.kind.empty()) << result.reason;
    EXPECT_NE(std::find(kProviderReasonKinds.begin(), kProviderReasonKinds.end(), result.kind),
              kProviderReasonKinds.end())
        << result.kind;
}

void expectRefused(const ProviderResult& result) {
    EXPECT_EQ(result.failure, ProviderFailure::Refused) << result.reason;
    EXPECT_EQ(result.account.id, "");
    EXPECT_EQ(result.account.displayName, "");
    expectListedKind(result);
}

// What a browser brings back to the callback after signing in at the fake Steam.
QueryParams steamAssertion(const std::string& host = kHost, const std::string& state = kState) {
    Fetched page = fetch(steamLoginUrl(host, state));
    EXPECT_EQ(page.status, 302) << page.body;
    EXPECT_TRUE(page.location.starts_with(steamReturnTo(host, state))) << page.location;
    return queryOf(page.location);
}

using SteamFlow = FakeProviders;

TEST_F(SteamFlow, LinksTheAccountSteamConfirmsAfterAskingSteamWithExactlyTheReceivedFields) {
    controlPost("/steam", {{"steamid", kSteamId}});
    QueryParams callback = steamAssertion();
    StoreLedger ledger;
    ProviderResult result = verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow(), ledger);
    ASSERT_EQ(result.failure, ProviderFailure::None) << result.reason;
    EXPECT_EQ(result.account.id, kSteamId);
    EXPECT_EQ(result.account.displayName, kSteamId);
    EXPECT_EQ(result.kind, "");

    auto checks = requestsTo("steamcommunity.com", "POST");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["path"], "/openid/login");
    QueryParams expected;
    for (const auto& [key, value] : callback)
        if (key.starts_with("openid."))
            expected.emplace_back(key, key == "openid.mode" ? "check_authentication" : value);
    EXPECT_EQ(formOf(checks[0]), expected);
}

TEST_F(SteamFlow, AcceptsTheHttpFormOfTheIdsAsSteamSendsThem) {
    controlPost("/steam", {{"steamid", kSteamId}, {"mode", "always_valid"}});
    QueryParams callback = steamAssertion();
    setValue(callback, "openid.claimed_id", "http://steamcommunity.com/openid/id/" + kSteamId);
    setValue(callback, "openid.identity", "http://steamcommunity.com/openid/id/" + kSteamId);
    StoreLedger ledger;
    ProviderResult result = verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow(), ledger);
    EXPECT_EQ(result.failure, ProviderFailure::None) << result.reason;
    EXPECT_EQ(result.account.id, kSteamId);
}

TEST_F(SteamFlow, ACancelIsReportedAsSuchAndSteamIsNotAsked) {
    QueryParams callback = {
        {"state", kState}, {"openid.ns", "http://specs.openid.net/auth/2.0"}, {"openid.mode", "cancel"}};
    StoreLedger ledger;
    ProviderResult result = verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow(), ledger);
    EXPECT_EQ(result.failure, ProviderFailure::Cancelled);
    EXPECT_EQ(result.kind, "steam_cancelled");
    EXPECT_EQ(result.account.id, "");
    EXPECT_TRUE(requestsTo("steamcommunity.com", "POST").empty());
}

// Steam's own verdict decides once every local check has passed.
TEST_F(SteamFlow, WhatSteamDoesNotConfirmIsRefusedAndASteamFailureIsUnreachable) {
    struct Case {
        const char* name;
        const char* mode;
        std::function<void(QueryParams&)> change;
        ProviderFailure expected;
        std::string_view kind;
    };
    const Case cases[] = {
        {"a signature Steam did not make", "verify",
         [](QueryParams& q) { setValue(q, "openid.sig", "AAAA" + valueOf(q, "openid.sig").substr(4)); },
         ProviderFailure::Refused, "steam_signature"},
        {"a fresh nonce put into a signed assertion", "verify",
         [](QueryParams& q) {
             setValue(q, "openid.response_nonce", valueOf(q, "openid.response_nonce") + "x");
         },
         ProviderFailure::Refused, "steam_signature"},
        {"Steam answering is_valid:false", "always_invalid", [](QueryParams&) {}, ProviderFailure::Refused,
         "steam_signature"},
        {"Steam answering 500", "error", [](QueryParams&) {}, ProviderFailure::Unreachable,
         "steam_unreachable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controlPost("/reset", nlohmann::json::object());
        controlPost("/steam", {{"mode", c.mode}});
        QueryParams callback = steamAssertion();
        c.change(callback);
        StoreLedger ledger;
        ProviderResult result =
            verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow(), ledger);
        EXPECT_EQ(result.failure, c.expected) << result.reason;
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.account.id, "");
        EXPECT_EQ(requestsTo("steamcommunity.com", "POST").size(), 1u) << "Steam was asked once";
    }
}

TEST_F(SteamFlow, AReplayedAssertionIsRefusedWithoutAskingSteamAgain) {
    controlPost("/steam", {{"mode", "always_valid"}});
    QueryParams callback = steamAssertion();
    StoreLedger ledger;
    std::string expected = steamReturnTo(kHost, kState);
    EXPECT_EQ(verifySteamCallback(callback, expected, unixNow(), ledger).failure, ProviderFailure::None);
    ProviderResult replayed = verifySteamCallback(callback, expected, unixNow(), ledger);
    expectRefused(replayed);
    EXPECT_EQ(replayed.kind, "steam_nonce_replayed");
    EXPECT_EQ(requestsTo("steamcommunity.com", "POST").size(), 1u);
}

// Each spoof passes Steam's check in the fake's always-valid mode, so only the service's own checks can
// refuse it; none of them may reach Steam, and nothing may go to an endpoint the request names.
TEST_F(SteamFlow, EverySpoofIsRefusedByTheServiceItselfEvenWhenSteamWouldSayValid) {
    const std::string otherId = "https://steamcommunity.com/openid/id/76561198000000043";
    auto setBoth = [](QueryParams& q, const std::string& id) {
        setValue(q, "openid.claimed_id", id);
        setValue(q, "openid.identity", id);
    };
    auto unsign = [](const std::string& name) {
        return [name](QueryParams& q) {
            std::string kept;
            const std::string list = valueOf(q, "openid.signed");
            for (std::size_t start = 0, end; start <= list.size(); start = end + 1) {
                end = std::min(list.find(',', start), list.size());
                if (list.substr(start, end - start) != name)
                    kept.append(kept.empty() ? "" : ",").append(list.substr(start, end - start));
            }
            setValue(q, "openid.signed", kept);
        };
    };
    struct Case {
        std::string name;
        std::function<void(QueryParams&)> change;
        std::int64_t clockShift = 0; // seconds added to the verifier's clock
    };
    const std::vector<Case> cases = {
        {"op_endpoint of another provider (served by the fake too)",
         [](QueryParams& q) { setValue(q, "openid.op_endpoint", "https://discord.com/openid/login"); }},
        {"op_endpoint over http",
         [](QueryParams& q) { setValue(q, "openid.op_endpoint", "http://steamcommunity.com/openid/login"); }},
        {"op_endpoint with a trailing slash",
         [](QueryParams& q) {
             setValue(q, "openid.op_endpoint", "https://steamcommunity.com/openid/login/");
         }},
        {"claimed_id on a look-alike host",
         [&](QueryParams& q) {
             setBoth(q, "https://steamcommunity.com.evil.example/openid/id/" + kSteamId);
         }},
        {"claimed_id with a user part",
         [&](QueryParams& q) {
             setBoth(q, "https://steamcommunity.com@evil.example/openid/id/" + kSteamId);
         }},
        {"claimed_id with a trailing slash",
         [&](QueryParams& q) { setBoth(q, "https://steamcommunity.com/openid/id/" + kSteamId + "/"); }},
        {"claimed_id with 16 digits",
         [&](QueryParams& q) { setBoth(q, "https://steamcommunity.com/openid/id/7656119800000004"); }},
        {"claimed_id with 18 digits",
         [&](QueryParams& q) { setBoth(q, "https://steamcommunity.com/openid/id/103582791429521408"); }},
        {"claimed_id not an individual account",
         [&](QueryParams& q) { setBoth(q, "https://steamcommunity.com/openid/id/12345678901234567"); }},
        {"claimed_id with a NUL after the digits",
         [&](QueryParams& q) {
             setBoth(q, "https://steamcommunity.com/openid/id/" + kSteamId + std::string(1, '\0'));
         }},
        {"claimed_id with a query",
         [&](QueryParams& q) { setBoth(q, "https://steamcommunity.com/openid/id/" + kSteamId + "?id=1"); }},
        {"claimed_id host in capitals",
         [&](QueryParams& q) { setBoth(q, "https://STEAMCOMMUNITY.COM/openid/id/" + kSteamId); }},
        {"op_endpoint in capitals",
         [](QueryParams& q) {
             setValue(q, "openid.op_endpoint", "HTTPS://STEAMCOMMUNITY.COM/openid/login");
         }},
        {"identity differs from claimed_id",
         [&](QueryParams& q) { setValue(q, "openid.identity", otherId); }},
        {"claimed_id differs from identity",
         [&](QueryParams& q) { setValue(q, "openid.claimed_id", otherId); }},
        {"op_endpoint not signed", unsign("op_endpoint")},
        {"claimed_id not signed", unsign("claimed_id")},
        {"identity not signed", unsign("identity")},
        {"return_to not signed", unsign("return_to")},
        {"response_nonce not signed", unsign("response_nonce")},
        {"assoc_handle not signed", unsign("assoc_handle")},
        {"openid.signed missing",
         [](QueryParams& q) { std::erase_if(q, [](auto& p) { return p.first == "openid.signed"; }); }},
        {"wrong mode", [](QueryParams& q) { setValue(q, "openid.mode", "checkid_setup"); }},
        {"mode check_authentication",
         [](QueryParams& q) { setValue(q, "openid.mode", "check_authentication"); }},
        {"OpenID 1.1 namespace",
         [](QueryParams& q) { setValue(q, "openid.ns", "http://openid.net/signon/1.1"); }},
        {"namespace missing",
         [](QueryParams& q) { std::erase_if(q, [](auto& p) { return p.first == "openid.ns"; }); }},
        {"claimed_id given twice", [&](QueryParams& q) { q.emplace_back("openid.claimed_id", otherId); }},
        {"the same field twice with the same value",
         [](QueryParams& q) { q.emplace_back("openid.mode", "id_res"); }},
        {"state given twice", [](QueryParams& q) { q.emplace_back("state", kState); }},
        {"a query past the size bound",
         [](QueryParams& q) { q.emplace_back("openid.ext", std::string(kMaxQueryLength, 'x')); }},
        {"an unexpected parameter", [](QueryParams& q) { q.emplace_back("openid_op_endpoint", "x"); }},
        {"nonce older than five minutes", [](QueryParams&) {}, 301},
        {"nonce from the future", [](QueryParams&) {}, -120},
        {"nonce without its timestamp",
         [](QueryParams& q) {
             setValue(q, "openid.response_nonce", valueOf(q, "openid.response_nonce").substr(20));
         }},
        {"nonce with a space",
         [](QueryParams& q) {
             setValue(q, "openid.response_nonce", valueOf(q, "openid.response_nonce") + " x");
         }},
        {"assoc_handle empty", [](QueryParams& q) { setValue(q, "openid.assoc_handle", ""); }},
        {"return_to over http",
         [](QueryParams& q) {
             setValue(q, "openid.return_to", "http" + valueOf(q, "openid.return_to").substr(5));
         }},
        {"mode in capitals", [](QueryParams& q) { setValue(q, "openid.mode", "ID_RES"); }},
        {"return_to with another query",
         [](QueryParams& q) { setValue(q, "openid.return_to", valueOf(q, "openid.return_to") + "&x=1"); }},
    };
    controlPost("/steam", {{"steamid", kSteamId}, {"mode", "always_valid"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueryParams callback = steamAssertion();
        c.change(callback);
        StoreLedger ledger;
        expectRefused(
            verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow() + c.clockShift, ledger));
    }

    // Assertions Steam really signed, but for another site or another state.
    struct Borrowed {
        const char* name;
        std::string host, state;
    };
    for (const Borrowed& b : {Borrowed{"return_to of another site", "evil.example", kState},
                              Borrowed{"return_to of another state", kHost, kOtherState}}) {
        SCOPED_TRACE(b.name);
        QueryParams callback = steamAssertion(b.host, b.state);
        setValue(callback, "state", kState);
        StoreLedger ledger;
        expectRefused(verifySteamCallback(callback, steamReturnTo(kHost, kState), unixNow(), ledger));
    }

    for (const auto& request : receivedRequests()) {
        EXPECT_EQ(request["method"], "GET") << "a spoof reached " << request["host"] << request["path"];
        EXPECT_NE(request["host"], "discord.com");
    }
}

using DiscordFlow = FakeProviders;

QueryParams discordCallback(const DiscordApp& app, const std::string& verifier = kVerifier) {
    Fetched page = fetch(discordAuthorizationUrl(app, kHost, kState, verifier));
    EXPECT_EQ(page.status, 302) << page.body;
    EXPECT_TRUE(page.location.starts_with(discordRedirectUri(kHost) + "?")) << page.location;
    return queryOf(page.location);
}

DiscordApp testApp() {
    const char* id = std::getenv("ORVANE_DISCORD_CLIENT_ID");
    const char* secret = std::getenv("ORVANE_DISCORD_CLIENT_SECRET");
    return {id != nullptr ? id : "", secret != nullptr ? secret : ""};
}

TEST_F(DiscordFlow, ExchangesTheCodeWithTheSecretAndReadsTheUser) {
    DiscordApp app = testApp();
    controlPost(
        "/discord",
        {{"user",
          {{"id", "80351110224678912"}, {"username", "jugador"}, {"global_name", "Jugador Ñandú 🎮"}}}});
    QueryParams callback = discordCallback(app);
    // The state comes back untouched; matching and consuming it is the caller's job, before this call.
    EXPECT_EQ(valueOf(callback, "state"), kState);
    ProviderResult result = completeDiscordCallback(callback, app, kHost, kVerifier);
    ASSERT_EQ(result.failure, ProviderFailure::None) << result.reason;
    EXPECT_EQ(result.kind, "");
    EXPECT_EQ(result.account.id, "80351110224678912");
    EXPECT_EQ(result.account.displayName, "Jugador Ñandú 🎮");

    auto posts = requestsTo("discord.com", "POST");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0]["path"], "/api/v10/oauth2/token");
    QueryParams expected = {{"grant_type", "authorization_code"},        {"code", valueOf(callback, "code")},
                            {"redirect_uri", discordRedirectUri(kHost)}, {"client_id", app.clientId},
                            {"client_secret", app.clientSecret},         {"code_verifier", kVerifier}};
    EXPECT_EQ(formOf(posts[0]), expected);
    auto gets = requestsTo("discord.com", "GET");
    ASSERT_EQ(gets.size(), 2u); // the browser's authorize, then the service's users/@me
    QueryParams page;
    EXPECT_TRUE(parseQuery(gets[0]["query"].get<std::string>(), page));
    EXPECT_EQ(valueOf(page, "code_challenge_method"), "S256");
    EXPECT_TRUE(
        std::none_of(page.begin(), page.end(), [](const auto& pair) { return pair.first == "prompt"; }));
    EXPECT_EQ(gets[1]["path"], "/api/v10/users/@me");
    EXPECT_TRUE(gets[1]["authorization"].get<std::string>().starts_with("Bearer "));
}

TEST_F(DiscordFlow, TheShownNameFallsBackFromGlobalNameToUsernameToTheId) {
    struct Case {
        nlohmann::json user;
        std::string shown;
    };
    const std::string id = "80351110224678913";
    const Case cases[] = {
        {{{"id", id}, {"username", "jugador"}, {"global_name", nullptr}}, "jugador"},
        {{{"id", id}, {"username", "jugador"}, {"global_name", ""}}, "jugador"},
        {{{"id", id}, {"username", "jugador"}, {"global_name", "a\nb"}}, "jugador"},
        {{{"id", id},
          {"username", "jugador"},
          {"global_name", "a\xC2\x85"
                          "b"}},
         "jugador"},
        {{{"id", id}, {"username", "jugador"}, {"global_name", std::string(201, 'x')}}, "jugador"},
        {{{"id", id}, {"username", std::string(200, 'x')}}, std::string(200, 'x')},
        {{{"id", id}, {"username", "j"}, {"global_name", std::string(200, 'y')}}, std::string(200, 'y')},
        {{{"id", id}, {"username", "\t"}}, id},
        {{{"id", id}}, id},
    };
    DiscordApp app = testApp();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user.dump());
        controlPost("/discord", {{"user", c.user}});
        ProviderResult result = completeDiscordCallback(discordCallback(app), app, kHost, kVerifier);
        ASSERT_EQ(result.failure, ProviderFailure::None) << result.reason;
        EXPECT_EQ(result.account.displayName, c.shown);
    }
    std::string emoji100, emoji101 = "🎮";
    for (int i = 0; i < 100; ++i)
        emoji100 += "🎮";
    emoji101 += emoji100;
    for (const auto& [name, shown] : {std::pair{emoji100, emoji100}, std::pair{emoji101, std::string("j")}}) {
        controlPost("/discord", {{"user", {{"id", id}, {"username", "j"}, {"global_name", name}}}});
        EXPECT_EQ(completeDiscordCallback(discordCallback(app), app, kHost, kVerifier).account.displayName,
                  shown);
    }
}

TEST_F(DiscordFlow, FailuresLinkNothing) {
    DiscordApp app = testApp();
    struct Case {
        const char* name;
        nlohmann::json fake;                      // the fake's settings
        std::function<void(QueryParams&)> change; // what reaches the callback
        DiscordApp (*appFor)(DiscordApp);
        ProviderFailure expected;
        std::string_view kind;
        std::size_t tokenRequests;
    };
    auto same = [](DiscordApp a) { return a; };
    auto keep = [](QueryParams&) {};
    auto user = [](nlohmann::json id, const std::string& name = "x", bool unsized = false) {
        return nlohmann::json{{"user", {{"id", id}, {"username", name}}}, {"users_unsized", unsized}};
    };
    const auto refused = ProviderFailure::Refused;
    const auto unreachable = ProviderFailure::Unreachable;
    const Case cases[] = {
        {"the player declines",
         {{"deny", true}},
         keep,
         same,
         ProviderFailure::Cancelled,
         "discord_cancelled",
         0},
        {"another error", nlohmann::json::object(),
         [](QueryParams& q) {
             q = {{"state", kState}, {"error", "invalid_scope"}};
         },
         same, refused, "discord_error", 0},
        {"no code", nlohmann::json::object(),
         [](QueryParams& q) {
             q = {{"state", kState}};
         },
         same, refused, "discord_code", 0},
        {"code given twice", nlohmann::json::object(),
         [](QueryParams& q) { q.emplace_back("code", valueOf(q, "code")); }, same, refused, "discord_query",
         0},
        {"a query past the size bound", nlohmann::json::object(),
         [](QueryParams& q) { q.emplace_back("extra", std::string(kMaxQueryLength, 'x')); }, same, refused,
         "discord_query", 0},
        {"state given twice", nlohmann::json::object(), [](QueryParams& q) { q.emplace_back("state", "x"); },
         same, refused, "discord_query", 0},
        {"a code with a space", nlohmann::json::object(),
         [](QueryParams& q) { setValue(q, "code", valueOf(q, "code") + " "); }, same, refused, "discord_code",
         0},
        {"a code Discord never issued", nlohmann::json::object(),
         [](QueryParams& q) { setValue(q, "code", "AAAA" + valueOf(q, "code")); }, same, refused,
         "discord_token_refused", 1},
        {"a wrong client secret", nlohmann::json::object(), keep,
         [](DiscordApp a) {
             return DiscordApp{a.clientId, a.clientSecret + "x"};
         },
         refused, "discord_client", 1},
        {"the token endpoint failing",
         {{"token_status", 500}},
         keep,
         same,
         unreachable,
         "discord_unreachable",
         1},
        {"the token endpoint limiting",
         {{"token_status", 429}},
         keep,
         same,
         unreachable,
         "discord_unreachable",
         1},
        {"the users endpoint failing",
         {{"users_status", 500}},
         keep,
         same,
         unreachable,
         "discord_unreachable",
         1},
        {"an id with letters", user("8035111022467891a"), keep, same, refused, "discord_user", 1},
        {"an id too short", user("123"), keep, same, refused, "discord_user", 1},
        {"an id past 64 bits", user("99999999999999999999"), keep, same, refused, "discord_user", 1},
        {"an id of zeros", user("0000000000000000"), keep, same, refused, "discord_user", 1},
        {"an id as a number", user(80351110224678912u), keep, same, refused, "discord_user", 1},
        {"no id", {{"user", {{"username", "x"}}}}, keep, same, refused, "discord_user", 1},
        {"a users answer past 64 KiB", user("80351110224678912", std::string(70000, 'x')), keep, same,
         unreachable, "discord_unreachable", 1},
        {"the same without its size announced", user("80351110224678912", std::string(70000, 'x'), true),
         keep, same, unreachable, "discord_unreachable", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controlPost("/reset", nlohmann::json::object());
        controlPost("/discord", c.fake);
        QueryParams callback = discordCallback(app);
        c.change(callback);
        ProviderResult result = completeDiscordCallback(callback, c.appFor(app), kHost, kVerifier);
        EXPECT_EQ(result.failure, c.expected) << result.reason;
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.account.id, "");
        EXPECT_EQ(requestsTo("discord.com", "POST").size(), c.tokenRequests);
    }
}

// The code is worth nothing without the verifier of the page that issued it; a verifier of the wrong
// shape is the service's own fault and is not sent at all.
TEST_F(DiscordFlow, TheExchangeNeedsTheVerifierOfThePage) {
    DiscordApp app = testApp();
    const std::string longest(128, '~');
    struct Case {
        const char* name;
        std::string onPage, atExchange;
        ProviderFailure expected;
        std::string_view kind;
        std::size_t tokenRequests;
    };
    const Case cases[] = {
        {"the page's verifier", kVerifier, kVerifier, ProviderFailure::None, "", 1},
        {"the longest verifier", longest, longest, ProviderFailure::None, "", 1},
        {"another verifier", kVerifier, kVerifier.substr(1) + "A", ProviderFailure::Refused,
         "discord_token_refused", 1},
        {"a shortest verifier, not the page's", kVerifier, kVerifier.substr(0, 43), ProviderFailure::Refused,
         "discord_token_refused", 1},
        {"no verifier", kVerifier, "", ProviderFailure::Refused, "pkce", 0},
        {"42 characters", kVerifier.substr(0, 42), kVerifier.substr(0, 42), ProviderFailure::Refused, "pkce",
         0},
        {"129 characters", longest + "~", longest + "~", ProviderFailure::Refused, "pkce", 0},
        {"a character outside the set", kVerifier + "+", kVerifier + "+", ProviderFailure::Refused, "pkce",
         0},
        {"a line break", kVerifier + "\n", kVerifier + "\n", ProviderFailure::Refused, "pkce", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controlPost("/reset", nlohmann::json::object());
        ProviderResult result =
            completeDiscordCallback(discordCallback(app, c.onPage), app, kHost, c.atExchange);
        EXPECT_EQ(result.failure, c.expected) << result.reason;
        EXPECT_EQ(result.kind, c.kind);
        auto posts = requestsTo("discord.com", "POST");
        ASSERT_EQ(posts.size(), c.tokenRequests);
        if (!posts.empty()) {
            EXPECT_EQ(valueOf(formOf(posts[0]), "code_verifier"), c.atExchange);
        }
    }
}

TEST_F(DiscordFlow, ACodeIsExchangedOnlyOnce) {
    DiscordApp app = testApp();
    QueryParams callback = discordCallback(app);
    EXPECT_EQ(completeDiscordCallback(callback, app, kHost, kVerifier).failure, ProviderFailure::None);
    expectRefused(completeDiscordCallback(callback, app, kHost, kVerifier));
}

using DiscordRoles = FakeProviders;

const std::string kGuild = "613425648685547541";
const std::string kRole = "613425648685547542";
const std::string kMember = "80351110224678912";

DiscordRoleTarget roleTarget() {
    const char* token = std::getenv("ORVANE_DISCORD_BOT_TOKEN");
    return {token != nullptr ? token : "", kGuild, kRole};
}

// The fake then knows this guild, its role and one member, and answers 404 for anything else.
void knowTheGuild() {
    controlPost("/discord", {{"guild_id", kGuild}, {"role_id", kRole}, {"members", {kMember}}});
}

nlohmann::json rolesOfMember() {
    return controlGet("/log")["member_roles"].value(kMember, nlohmann::json::array());
}

TEST_F(DiscordRoles, GivesAndTakesTheRoleAsTheBot) {
    knowTheGuild();
    DiscordRoleTarget target = roleTarget();
    for (bool add : {true, false}) {
        SCOPED_TRACE(add ? "add" : "remove");
        int retryAfter = -1;
        EXPECT_EQ(setDiscordMemberRole(target, kMember, add, retryAfter), RoleCallOutcome::Done);
        EXPECT_EQ(retryAfter, 0);
        const nlohmann::json call = receivedRequests().back();
        EXPECT_EQ(call["method"], add ? "PUT" : "DELETE");
        EXPECT_EQ(call["path"], "/api/v10/guilds/" + kGuild + "/members/" + kMember + "/roles/" + kRole);
        EXPECT_EQ(call["authorization"], "Bot " + target.botToken);
        EXPECT_EQ(call["audit_reason"], "orvane%20link");
        EXPECT_EQ(call["body"], "");
        EXPECT_EQ(rolesOfMember(), add ? nlohmann::json::array({kRole}) : nlohmann::json::array());
    }
    EXPECT_EQ(receivedRequests().size(), 2u);
}

// Discord's answer decides whether the change is tried again, and not before when.
TEST_F(DiscordRoles, DiscordsAnswerDecidesBetweenDoneRetryAndGiveUp) {
    using Target = DiscordRoleTarget;
    struct Case {
        const char* name;
        nlohmann::json fake;
        Target (*targetFor)(Target);
        RoleCallOutcome expected;
        int retryAfter;
    };
    auto same = [](Target t) { return t; };
    auto limited = [](double seconds, nlohmann::json header = nullptr) {
        return nlohmann::json{
            {"roles_status", 429}, {"retry_after", seconds}, {"retry_after_header", header}};
    };
    const auto retry = RoleCallOutcome::Retry;
    const auto giveUp = RoleCallOutcome::GiveUp;
    const Case cases[] = {
        {"Discord down", {{"roles_status", 503}}, same, retry, 0},
        {"Discord failing", {{"roles_status", 500}}, same, retry, 0},
        {"limited, with Retry-After", limited(2.5), same, retry, 3},
        {"limited, Retry-After with a fraction", limited(9, "2.5"), same, retry, 3},
        {"limited, only the body's retry_after", limited(7.2, false), same, retry, 8},
        {"limited, Retry-After as a date", limited(4, "Wed, 21 Oct 2015 07:28:00 GMT"), same, retry, 4},
        {"limited past an hour", limited(86400), same, retry, 3600},
        {"limited for no time", limited(0, false), same, retry, 1},
        {"a bot token Discord does not know", nlohmann::json::object(),
         [](Target t) {
             return Target{t.botToken + "x", t.guildId, t.roleId};
         },
         giveUp, 0},
        {"no permission", {{"roles_status", 403}}, same, giveUp, 0},
        {"another guild", nlohmann::json::object(),
         [](Target t) {
             return Target{t.botToken, "613425648685547549", t.roleId};
         },
         giveUp, 0},
        {"another role", nlohmann::json::object(),
         [](Target t) {
             return Target{t.botToken, t.guildId, "613425648685547549"};
         },
         giveUp, 0},
        {"not a member", {{"members", {"80351110224678913"}}}, same, giveUp, 0},
        {"an answer never expected", {{"roles_status", 400}}, same, giveUp, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controlPost("/reset", nlohmann::json::object());
        knowTheGuild();
        controlPost("/discord", c.fake);
        int retryAfter = -1;
        EXPECT_EQ(setDiscordMemberRole(c.targetFor(roleTarget()), kMember, true, retryAfter), c.expected);
        EXPECT_EQ(retryAfter, c.retryAfter);
        EXPECT_EQ(receivedRequests().size(), 1u);
        EXPECT_EQ(rolesOfMember(), nlohmann::json::array());
    }
}

TEST_F(DiscordRoles, AnIdOrTokenOfTheWrongShapeIsNeverSent) {
    using Target = DiscordRoleTarget;
    const Target good = roleTarget();
    struct Case {
        const char* name;
        Target target;
        std::string user;
    };
    const Case cases[] = {
        {"a user id too short", good, "123"},
        {"a user id with letters", good, "8035111022467891a"},
        {"a user id going up the path", good, kMember + "/.."},
        {"a user id of zeros", good, "0000000000000000"},
        {"no guild", {good.botToken, "", kRole}, kMember},
        {"a guild past 64 bits", {good.botToken, "99999999999999999999", kRole}, kMember},
        {"a role with a query", {good.botToken, kGuild, kRole + "?x=1"}, kMember},
        {"no bot token", {"", kGuild, kRole}, kMember},
        {"a bot token with a header after it", {good.botToken + "\r\nX-Injected: 1", kGuild, kRole}, kMember},
        {"a bot token with a space", {"Bot " + good.botToken, kGuild, kRole}, kMember},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int retryAfter = -1;
        EXPECT_EQ(setDiscordMemberRole(c.target, c.user, true, retryAfter), RoleCallOutcome::GiveUp);
        EXPECT_EQ(retryAfter, 0);
    }
    EXPECT_TRUE(receivedRequests().empty());
}

TEST_F(DiscordRoles, ADiscordThatCannotBeReachedIsTriedAgain) {
    controlPost("/tls", {{"certificate", "untrusted"}});
    int retryAfter = -1;
    EXPECT_EQ(setDiscordMemberRole(roleTarget(), kMember, true, retryAfter), RoleCallOutcome::Retry);
    EXPECT_EQ(retryAfter, 0);
    EXPECT_TRUE(receivedRequests().empty());
}

} // namespace
