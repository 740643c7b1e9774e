// The authorisation URLs, read back with a real query parser, and the query splitting callbacks use.
#include "provider_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

const std::string kState = "Zm9vYmFyLWJhei1xdXV4LXN0YXRlLXRva2VuLTAxMjM"; // 43 URL-safe characters
const std::string kSelect = "http://specs.openid.net/auth/2.0/identifier_select";

// What the launcher opens: printable ASCII without the characters it refuses in a URL.
void expectLauncherOpens(const std::string& url) {
    EXPECT_LT(url.size(), kMaxAuthorizationUrlLength) << url;
    for (char c : url) {
        EXPECT_TRUE(c > ' ' && c < 0x7F) << "byte " << int(static_cast<unsigned char>(c));
        EXPECT_EQ(std::string_view("\"\\<>^|{}`").find(c), std::string_view::npos) << "character " << c;
    }
    // Everything past '?' is percent-encoded: only unreserved characters are literal.
    std::string query = url.substr(url.find('?') + 1);
    EXPECT_EQ(
        query.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%&="),
        std::string::npos)
        << query;
}

// The longest host the configuration lets through, in valid labels.
std::string longestHost() {
    return std::string(63, 'a') + "." + std::string(kMaxPublicHostLength - 68, 'b') + ".org";
}

// Scheme https, that host, no user and no port other than the default, that path.
void expectOrigin(const ParsedUrl& parsed, const char* host, const char* path) {
    EXPECT_EQ(parsed.scheme, "https");
    EXPECT_EQ(parsed.user, "");
    EXPECT_EQ(parsed.host, host);
    EXPECT_EQ(parsed.port, "");
    EXPECT_EQ(parsed.path, path);
}

TEST(ProviderUrls, SteamLoginAsksSteamForCheckidSetupReturningToThisState) {
    for (const std::string& host : {std::string("link.example.org"), longestHost()}) {
        SCOPED_TRACE(host);
        std::string url = steamLoginUrl(host, kState);
        ParsedUrl parsed = parseWithCurl(url);
        expectOrigin(parsed, "steamcommunity.com", "/openid/login");
        std::string returnTo =
            "https://" + host + "/orvane-launcher/v1/9e3f51d0/callback/steam?state=" + kState;
        EXPECT_EQ(steamReturnTo(host, kState), returnTo);
        QueryParams expected = {{"openid.ns", "http://specs.openid.net/auth/2.0"},
                                {"openid.mode", "checkid_setup"},
                                {"openid.return_to", returnTo},
                                {"openid.realm", "https://" + host + "/"},
                                {"openid.identity", kSelect},
                                {"openid.claimed_id", kSelect}};
        EXPECT_EQ(parsed.query, expected);
        expectLauncherOpens(url);
    }
}

// RFC 7636's own S256 example (appendix B).
const std::string kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
const std::string kChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

// No prompt: Discord shows its consent page each time, so a page opened by someone else cannot link
// silently. The verifier itself stays with the service.
TEST(ProviderUrls, DiscordAuthorizationAsksForIdentifyWithThisStateRedirectAndChallenge) {
    // The longest client id the configuration takes, for the length bound.
    for (const DiscordApp& app : {DiscordApp{"1100000000000000001", "secret that never appears"},
                                  DiscordApp{std::string(24, '9'), "secret that never appears"}}) {
        for (const std::string& host : {std::string("link.example.org"), longestHost()}) {
            SCOPED_TRACE(host + " " + app.clientId);
            std::string url = discordAuthorizationUrl(app, host, kState, kVerifier);
            ParsedUrl parsed = parseWithCurl(url);
            expectOrigin(parsed, "discord.com", "/oauth2/authorize");
            std::string redirect = "https://" + host + "/orvane-launcher/v1/9e3f51d0/callback/discord";
            EXPECT_EQ(discordRedirectUri(host), redirect);
            QueryParams expected = {{"response_type", "code"},
                                    {"client_id", app.clientId},
                                    {"scope", "identify"},
                                    {"state", kState},
                                    {"redirect_uri", redirect},
                                    {"code_challenge", kChallenge},
                                    {"code_challenge_method", "S256"}};
            EXPECT_EQ(parsed.query, expected);
            EXPECT_EQ(url.find("secret"), std::string::npos);
            EXPECT_EQ(url.find(kVerifier), std::string::npos);
            expectLauncherOpens(url);
        }
    }
}

// Each verifier has its own challenge: unpadded base64url of 32 bytes, whatever the verifier's length.
TEST(ProviderUrls, TheChallengeFollowsTheVerifier) {
    DiscordApp app{"1100000000000000001", ""};
    std::vector<std::string> challenges;
    for (const std::string& verifier : {kVerifier, kVerifier.substr(0, 42) + "l", std::string(128, '~')}) {
        std::string challenge =
            valueOf(parseWithCurl(discordAuthorizationUrl(app, "h.example", kState, verifier)).query,
                    "code_challenge");
        EXPECT_EQ(challenge.size(), 43u) << challenge;
        EXPECT_EQ(
            challenge.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos)
            << challenge;
        EXPECT_EQ(std::find(challenges.begin(), challenges.end(), challenge), challenges.end()) << verifier;
        challenges.push_back(challenge);
    }
}

TEST(QueryText, SplitsAndDecodesLikeABrowserForm) {
    struct Case {
        const char* raw;
        QueryParams pairs;
    };
    const Case cases[] = {
        {"a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        {"a=x+y%2By&c", {{"a", "x y+y"}, {"c", ""}}},
        {"&&a=%41%62&", {{"a", "Ab"}}},
        {"a=1&a=2", {{"a", "1"}, {"a", "2"}}}, // repeats are kept for the flows to refuse
        {"k=%E2%82%AC=", {{"k", "\xE2\x82\xAC="}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        QueryParams parsed;
        EXPECT_TRUE(parseQuery(c.raw, parsed)) << c.raw;
        EXPECT_EQ(parsed, c.pairs) << c.raw;
    }
    std::string many;
    for (std::size_t i = 0; i <= kMaxQueryParams; ++i)
        many += "p=" + std::to_string(i) + "&";
    for (const std::string& bad : {std::string("a=%zz"), std::string("a=%4"), std::string("a=%"),
                                   std::string("%g1=b"), many, "a=" + std::string(kMaxQueryLength, 'x')}) {
        QueryParams parsed;
        EXPECT_FALSE(parseQuery(bad, parsed)) << bad.substr(0, 40);
    }
}

TEST(QueryText, EveryByteSurvivesTheRoundTripThroughAnAuthorizationUrl) {
    // In two halves, so each URL, escaped throughout, stays within the length the launcher opens.
    for (int first : {1, 128}) {
        std::string bytes;
        for (int c = first; c < first + 128 && c < 256; ++c)
            bytes.push_back(static_cast<char>(c));
        DiscordApp app{"1", ""};
        std::string url = discordAuthorizationUrl(app, "h.example", bytes, kVerifier);
        expectLauncherOpens(url);
        EXPECT_EQ(valueOf(parseWithCurl(url).query, "state"), bytes);
    }
}

} // namespace
