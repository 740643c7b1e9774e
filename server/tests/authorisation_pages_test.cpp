// The authorisation pages the service hands out, made by the real provider flows, against the rules of
// the document's authorisation-rules table: the launcher opens nothing else.
#include "support/contract_tables.h"
#include "support/service_fixture.h"

namespace {

using AuthorisationPages = ServiceFixture;

ProviderCalls realUrlBuilders() {
    ProviderCalls calls;
    calls.steamLoginUrl = steamLoginUrl;
    calls.steamReturnTo = steamReturnTo;
    calls.discordAuthorizationUrl = discordAuthorizationUrl;
    return calls;
}

TEST_F(AuthorisationPages, EachLinkUrlHasTheLiteralShapeTheLauncherOpens) {
    ASSERT_TRUE(prepareService(service, fixtureConfig(), *store, realUrlBuilders()));
    const auto rows = contractTable("authorisation-rules");
    ASSERT_EQ(rows.size(), 2u);
    for (const TableRow& row : rows) {
        // "`https://host` then optionally `:443` then `/path`"
        std::vector<std::string> quoted;
        for (std::size_t at = row[1].find('`'); at != std::string::npos; at = row[1].find('`', at + 1)) {
            const std::size_t end = row[1].find('`', at + 1);
            quoted.push_back(row[1].substr(at + 1, end - at - 1));
            at = end;
        }
        ASSERT_EQ(quoted.size(), 3u) << row[1];
        const std::string provider = row[0].rfind("Steam", 0) == 0 ? "steam" : "discord";
        SCOPED_TRACE(provider);
        const std::string token = newSession();
        const Response response = call("POST", "/link/" + provider, token);
        ASSERT_EQ(response.status, 200);
        const std::string url = json(response)["url"];
        const std::string prefix = quoted[0] + quoted[2] + "?";
        EXPECT_EQ(url.rfind(prefix, 0), 0u) << url;
        EXPECT_GT(url.size(), prefix.size());
        EXPECT_EQ(url.find('#'), std::string::npos);
        EXPECT_EQ(url.find_first_of(" \t\r\n"), std::string::npos);
        EXPECT_EQ(url.find(token), std::string::npos);
        for (const std::string& problem : documentProblems("link", response.body))
            ADD_FAILURE() << problem;
    }
}

} // namespace
