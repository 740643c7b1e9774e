// The authorisation-URL rule against a browser's own URL parser: every variant in the fixture carries
// the protocol, host and path a WHATWG parser reads (tools/make-url-variants.js). The launcher may
// accept a variant only when the browser would open the provider's real page, and only when the text
// is one the generator, on its own, judges safe to hand to the shell.
#include "link/service_documents.h"
#include "link/service_hosts.h"
#include "link/url_policy.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

struct Provider {
    const char* name;
    bool steam;
    const char* host;
    const char* path;
};

const Provider kProviders[] = {
    {"steam", true, "steamcommunity.com", "/openid/login"},
    {"discord", false, "discord.com", "/oauth2/authorize"},
};

const Provider* providerNamed(const std::string& name) {
    for (const Provider& p : kProviders)
        if (name == p.name)
            return &p;
    return nullptr;
}

} // namespace

TEST(AuthorizationUrlVariants, AcceptedOnlyWhereABrowserOpensTheRealPage) {
    const std::string text = testsupport::readBytes(testsupport::unixPathFromEnv("ORVANE_URL_VARIANTS"));
    const nlohmann::json rows = nlohmann::json::parse(text, nullptr, false);
    ASSERT_TRUE(rows.is_array()) << "fixture missing or unreadable";
    ASSERT_GE(rows.size(), 400u);

    size_t accepted = 0, refusedReal = 0;
    for (const nlohmann::json& row : rows) {
        const Provider* provider = providerNamed(row.value("provider", ""));
        ASSERT_NE(provider, nullptr);
        const std::string url = row["url"].get<std::string>();
        const std::wstring wide = utf8ToWide(url);
        ASSERT_FALSE(wide.empty()) << url;
        const bool browserOpensRealPage =
            row["protocol"] == "https:" && row["host"] == provider->host && row["path"] == provider->path;
        // The other provider's rule must refuse it too: the host differs whatever the browser reads.
        const Provider& other = provider->steam ? kProviders[1] : kProviders[0];
        EXPECT_FALSE(isAllowedAuthorizationUrl(wide.c_str(), other.steam)) << other.name << ": " << url;
        if (isAllowedAuthorizationUrl(wide.c_str(), provider->steam)) {
            ++accepted;
            EXPECT_TRUE(browserOpensRealPage) << provider->name << " accepted, browser reads host "
                                              << row["host"] << " path " << row["path"] << ": " << url;
            EXPECT_EQ(row["shell_safe"], true) << provider->name << " accepted, not for the shell: " << url;
        } else if (browserOpensRealPage) {
            ++refusedReal;
        }
    }
    // The canonical forms are in the fixture; a rule that refused everything would pass the loop.
    EXPECT_GT(accepted, 0u);
    std::printf("%zu variants: %zu accepted, %zu refused (%zu of them a real page to a browser)\n",
                rows.size(), accepted, rows.size() - accepted, refusedReal);
}
