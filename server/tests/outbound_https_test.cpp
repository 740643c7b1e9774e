// The outbound client's guards: fixed origins only, no redirects, no proxy from the environment, a
// verified certificate, a bounded answer. Runs under with-fake-providers.sh.
#include "provider_test_support.h"
#include "providers/providers_internal.h"

#include <cstdlib>

namespace {

using OutboundHttps = FakeProviders;

const std::string kState = "b3V0Ym91bmQtaHR0cHMtdGVzdC1zdGF0ZS0wMDAwMDAx";

HttpsAnswer get(const std::string& url) {
    HttpsCall call;
    call.url = url;
    return httpsExchange(call);
}

TEST_F(OutboundHttps, AsksNothingButTheProvidersOwnOrigins) {
    for (const char* url :
         {"https://steamcommunity.com.evil.example/openid/login", "http://steamcommunity.com/openid/login",
          "https://steamcommunity.com:443/openid/login", "https://user@steamcommunity.com/openid/login",
          "https://discord.com.example/", "https://steamcommunity.com",
          "HTTPS://discord.com/api/v10/users/@me"}) {
        HttpsAnswer answer = get(url);
        EXPECT_FALSE(answer.reached) << url;
        EXPECT_FALSE(answer.failure.empty()) << url;
    }
    EXPECT_TRUE(receivedRequests().empty());
}

// The fake Steam redirects to return_to; with the public host set to discord.com the redirect would
// land on the fake again, where the log would show it.
TEST_F(OutboundHttps, FollowsNoRedirect) {
    HttpsAnswer answer = get(steamLoginUrl("discord.com", kState));
    EXPECT_TRUE(answer.reached) << answer.failure;
    EXPECT_EQ(answer.status, 302);
    EXPECT_TRUE(requestsTo("discord.com", "GET").empty());
}

TEST_F(OutboundHttps, IgnoresProxiesNamedByTheEnvironment) {
    const char* names[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    for (const char* name : names)
        setenv(name, "http://127.0.0.1:9", 1); // the discard port: a proxy there answers nothing
    HttpsAnswer answer = get(steamLoginUrl("link.example.org", kState));
    for (const char* name : names)
        unsetenv(name);
    EXPECT_TRUE(answer.reached) << answer.failure;
    EXPECT_EQ(answer.status, 302);
}

TEST_F(OutboundHttps, RefusesACertificateItDoesNotTrustAndSendsNothing) {
    QueryParams callback = queryOf(fetch(steamLoginUrl("link.example.org", kState)).location);
    controlPost("/tls", {{"certificate", "untrusted"}});
    HttpsAnswer answer = get(steamLoginUrl("link.example.org", kState));
    EXPECT_FALSE(answer.reached);
    StoreLedger ledger;
    ProviderResult result =
        verifySteamCallback(callback, steamReturnTo("link.example.org", kState), unixNow(), ledger);
    EXPECT_EQ(result.failure, ProviderFailure::Unreachable) << result.reason;
    EXPECT_EQ(result.account.id, "");
    EXPECT_EQ(receivedRequests().size(), 1u) << "only the browser's sign-in reached the fake";
}

} // namespace
