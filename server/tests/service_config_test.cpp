// The configuration file: a complete file is read whole, and each bad value is named by its line and key,
// or by the environment variable that set it.
#include "config/document_rules.h"
#include "config/service_config.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const std::string Complete = R"(# A community's service
public_host = links.example.org
listen = 127.0.0.1:8443
trusted_proxy = 127.0.0.1
database = /var/lib/orvane/links.sqlite3
server_address = 203.0.113.7:27015
community_url = https://example.org/comunidad#inicio
require_linking = true
discord_client_id = 123456789012345678
discord_client_secret = s3cr3t
session_lifetime_days = 30
sessions_per_minute = 6
admin_api_key = 0123456789abcdef0123456789abcdef

[news]
id = 3
title = Temporada 3
body = Primera línea\nSegunda\tcon tabulador
published_at = 2026-10-08T17:00:00Z
)";

std::string joined(const std::vector<ConfigProblem>& problems) {
    std::string text;
    for (const ConfigProblem& p : problems)
        text += p.where + ": " + p.message + "\n";
    return text;
}

TEST(ServiceConfig, ACompleteFileIsReadWhole) {
    ServiceConfig config;
    const auto problems = parseServiceConfig(Complete, {}, config);
    ASSERT_TRUE(problems.empty()) << joined(problems);
    EXPECT_EQ(config.publicHost, "links.example.org");
    EXPECT_EQ(config.listenAddress, "127.0.0.1");
    EXPECT_EQ(config.listenPort, 8443);
    EXPECT_FALSE(servesTls(config));
    EXPECT_TRUE(discordEnabled(config));
    EXPECT_EQ(config.sessionsPerMinute, 6);
    EXPECT_EQ(config.communityUrl, "https://example.org/comunidad#inicio");
    ASSERT_EQ(config.news.size(), 1u);
    EXPECT_EQ(config.news[0].id, 3);
    EXPECT_EQ(config.news[0].body, "Primera línea\nSegunda\tcon tabulador");
}

// The edge's bounds: the defaults when the file says nothing, its values when it does.
TEST(ServiceConfig, TheBoundsHaveDefaultsAndCanBeSet) {
    ServiceConfig config;
    ASSERT_TRUE(parseServiceConfig(Complete, {}, config).empty());
    EXPECT_EQ(config.maxConnections, 0); // sized from the descriptors at start
    EXPECT_EQ(config.maxConnectionsPerAddress, 64);
    EXPECT_EQ(config.handshakeSeconds, 5);
    EXPECT_EQ(config.requestSeconds, 15);
    std::string text = Complete;
    text.insert(text.find("[news]"), "max_connections = 2000\nmax_connections_per_address = 8\n"
                                     "handshake_seconds = 2\nrequest_seconds = 30\n");
    const auto problems = parseServiceConfig(text, {{"ORVANE_LINK_MAX_CONNECTIONS", "3000"}}, config);
    ASSERT_TRUE(problems.empty()) << joined(problems);
    EXPECT_EQ(config.maxConnections, 3000);
    EXPECT_EQ(config.maxConnectionsPerAddress, 8);
    EXPECT_EQ(config.handshakeSeconds, 2);
    EXPECT_EQ(config.requestSeconds, 30);
}

// Each case replaces one line of the complete file (or adds one) and expects the problem at that place.
TEST(ServiceConfig, EachBadValueIsNamedByItsLineAndKey) {
    struct Case {
        std::string from, to, where, message;
    };
    const std::string longHost(limits::ServerAddressBytes - 4, 'a'); // one byte over with ":2701"
    const std::string longUrl = "https://example.org/" + std::string(limits::CommunityUrlBytes - 19, 'a');
    const Case cases[] = {
        {"listen = 127.0.0.1:8443", "listen = 127.0.0.1", "line 3 (listen)", "IP address and a port"},
        {"listen = 127.0.0.1:8443", "listen = 127.0.0.1:70000", "line 3 (listen)", "IP address and a port"},
        {"listen = 127.0.0.1:8443", "listen = 0.0.0.0:8443", "line 3 (listen)", "plain HTTP"},
        {"public_host = links.example.org", "public_host = https://links.example.org", "line 2 (public_host)",
         "host name"},
        {"trusted_proxy = 127.0.0.1", "trusted_proxy = proxy.local", "line 4 (trusted_proxy)", "IP address"},
        {"trusted_proxy = 127.0.0.1\n", "", "line 3 (listen)", "give its address as trusted_proxy"},
        {"trusted_proxy = 127.0.0.1\n", "trusted_proxy = 127.0.0.1\ndiscord_guild_id = 123456789012345678\n",
         "line 5 (discord_guild_id)", "together"},
        {"server_address = 203.0.113.7:27015", "server_address = [2001:db8::1]:27015",
         "line 6 (server_address)", "single colon"},
        {"server_address = 203.0.113.7:27015", "server_address = host:0", "line 6 (server_address)", "port"},
        {"server_address = 203.0.113.7:27015", "server_address = " + longHost + ":2701",
         "line 6 (server_address)", "at most 190"},
        {"community_url = https://example.org/comunidad#inicio", "community_url = http://example.org",
         "line 7 (community_url)", "https://"},
        {"community_url = https://example.org/comunidad#inicio", "community_url = https://user@example.org/",
         "line 7 (community_url)", "user information"},
        {"community_url = https://example.org/comunidad#inicio", "community_url = " + longUrl,
         "line 7 (community_url)", "at most 509"},
        {"require_linking = true", "require_linking = yes", "line 8 (require_linking)", "true or false"},
        {"discord_client_secret = s3cr3t", "discord_client_secret = two words",
         "line 10 (discord_client_secret)", "visible ASCII"},
        {"discord_client_secret = s3cr3t", "", "line 9 (discord_client_id)", "needs both"},
        {"session_lifetime_days = 30", "session_lifetime_days = 0", "line 11 (session_lifetime_days)",
         "1 to 365"},
        {"sessions_per_minute = 6", "sessions_per_minute = -1", "line 12 (sessions_per_minute)",
         "whole number"},
        {"admin_api_key = 0123456789abcdef0123456789abcdef", "admin_api_key = short",
         "line 13 (admin_api_key)", "32 to 256"},
        {"database = /var/lib/orvane/links.sqlite3", "", "database", "is required"},
        {"sessions_per_minute = 6", "metrics_listen = 0.0.0.0:9464", "line 12 (metrics_listen)",
         "loopback address"},
        {"sessions_per_minute = 6", "metrics_listen = 192.0.2.1:9464", "line 12 (metrics_listen)",
         "loopback address"},
        {"sessions_per_minute = 6", "metrics_listen = 9464", "line 12 (metrics_listen)", "loopback address"},
        {"sessions_per_minute = 6", "max_connections = 0", "line 12 (max_connections)", "1 to 1000000"},
        {"sessions_per_minute = 6", "max_connections_per_address = many",
         "line 12 (max_connections_per_address)", "whole number"},
        {"sessions_per_minute = 6", "handshake_seconds = 61", "line 12 (handshake_seconds)", "1 to 60"},
        {"sessions_per_minute = 6", "request_seconds = 0", "line 12 (request_seconds)", "1 to 300"},
        {"database = /var/lib/orvane/links.sqlite3", "databse = x", "line 5 (databse)", "unknown key"},
        {"listen = 127.0.0.1:8443", "listen = 127.0.0.1:8443\nlisten = 127.0.0.1:9443", "line 4 (listen)",
         "repeats a key of line 3"},
        {"listen = 127.0.0.1:8443", "listen = 127.0.0.1:8443\ntls_certificate = /nonexistent/cert.pem",
         "line 4 (tls_certificate)", "cannot read"},
        {"id = 3", "id = 0", "line 16 (id)", "greater than 0"},
        {"id = 3", "id = 1.5", "line 16 (id)", "greater than 0"},
        {"title = Temporada 3", "title =", "line 17 (title)", "1 to 1024"},
        {"published_at = 2026-10-08T17:00:00Z", "published_at = 2026-10-08 17:00:00Z",
         "line 19 (published_at)", "UTC time"},
        {"published_at = 2026-10-08T17:00:00Z", "published_at = 2026-10-08T17:00:00z",
         "line 19 (published_at)", "UTC time"},
        {"body = Primera línea\\nSegunda\\tcon tabulador", "body = \\x41", "line 18 (body)", "backslash"},
        {"body = Primera línea\\nSegunda\\tcon tabulador", "body = " + std::string(16001, 'b'),
         "line 18 (body)", "16000"},
        {"body = Primera línea\\nSegunda\\tcon tabulador", "body = a\x7f", "line 18 (body)", "control"},
        {"[news]", "[noticias]", "line 15", "unknown section"},
        {"title = Temporada 3", "", "line 15 [news]", "no title"},
    };
    for (const Case& c : cases) {
        std::string text = Complete;
        const std::size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, c.from.size(), c.to);
        ServiceConfig config;
        const auto problems = parseServiceConfig(text, {}, config);
        bool named = false;
        for (const ConfigProblem& p : problems)
            named = named || (p.where == c.where && p.message.find(c.message) != std::string::npos);
        EXPECT_TRUE(named) << c.to << "\n got:\n" << joined(problems);
    }
}

TEST(ServiceConfig, MetricsListenOnlyOnLoopback) {
    for (const auto& [value, address] : {std::pair{"127.0.0.1:9464", "127.0.0.1"}, {"[::1]:9464", "::1"}}) {
        ServiceConfig config;
        const auto problems = parseServiceConfig(Complete, {{"ORVANE_LINK_METRICS_LISTEN", value}}, config);
        ASSERT_TRUE(problems.empty()) << joined(problems);
        EXPECT_EQ(config.metricsAddress, address);
        EXPECT_EQ(config.metricsPort, 9464);
    }
    ServiceConfig off;
    ASSERT_TRUE(parseServiceConfig(Complete, {}, off).empty());
    EXPECT_TRUE(off.metricsAddress.empty());
}

TEST(ServiceConfig, TheEnvironmentOverridesAndIsNamedInProblems) {
    ServiceConfig config;
    auto problems = parseServiceConfig(Complete,
                                       {{"ORVANE_LINK_LISTEN", "[::1]:9443"},
                                        {"ORVANE_LINK_DISCORD_CLIENT_SECRET", "from-environment"},
                                        {"PATH", "/usr/bin"}},
                                       config);
    ASSERT_TRUE(problems.empty()) << joined(problems);
    EXPECT_EQ(config.listenAddress, "::1");
    EXPECT_EQ(config.listenPort, 9443);
    EXPECT_EQ(config.discordClientSecret, "from-environment");

    problems = parseServiceConfig(
        Complete, {{"ORVANE_LINK_SESSION_LIFETIME_DAYS", "400"}, {"ORVANE_LINK_COLOUR", "x"}}, config);
    ASSERT_EQ(problems.size(), 2u) << joined(problems);
    EXPECT_EQ(joined(problems), "ORVANE_LINK_COLOUR: unknown key\n"
                                "ORVANE_LINK_SESSION_LIFETIME_DAYS: expected a whole number from 1 to 365\n");
}

TEST(ServiceConfig, SecretsComeFromFilesAndDiscordNeedsBothHalves) {
    TempFolder folder;
    std::ofstream(folder.file("discord.secret")) << "file-secret\n";
    std::string text = Complete;
    text.replace(text.find("discord_client_secret = s3cr3t"), 30,
                 "discord_client_secret_file = " + folder.file("discord.secret"));
    ServiceConfig config;
    auto problems = parseServiceConfig(text, {}, config);
    ASSERT_TRUE(problems.empty()) << joined(problems);
    EXPECT_EQ(config.discordClientSecret, "file-secret");

    text = Complete;
    text.replace(text.find("require_linking = true"), 22, "require_linking = false");
    text.replace(text.find("discord_client_id = 123456789012345678"), 38, "");
    problems = parseServiceConfig(text, {}, config);
    ASSERT_EQ(problems.size(), 1u) << joined(problems);
    EXPECT_EQ(problems[0].where, "line 10 (discord_client_secret)");

    text.replace(text.find("discord_client_secret = s3cr3t"), 30, "");
    problems = parseServiceConfig(text, {}, config);
    EXPECT_TRUE(problems.empty()) << joined(problems);
    EXPECT_FALSE(discordEnabled(config));
}

TEST(DocumentRules, TimestampsAddressesAndUrlsAsTheLauncherReadsThem) {
    for (const char* good : {"2026-10-08T17:00:00Z", "2026-10-08T17:00:00.123Z", "2026-10-08T17:00:00+02:00"})
        EXPECT_TRUE(isTimestamp(good)) << good;
    for (const char* bad :
         {"2026-10-08T17:00:00z", "2026-10-08 17:00:00Z", "2026-10-08T17:00:00-02:00", "2026-10-08T17:00:00",
          "2026-1-08T17:00:00Z", "2026-10-08T17:00:00.00000000000000000001Z"})
        EXPECT_FALSE(isTimestamp(bad)) << bad;
    EXPECT_EQ(timestampOf(1'791'486'000), "2026-10-08T19:00:00Z");
    EXPECT_EQ(utf16Units("\xF0\x9F\x8E\xAE"
                         "a\xC3\xB1"),
              4u);
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    EXPECT_FALSE(isCleanText("a\tb", false));
    EXPECT_TRUE(isCleanText("a\tb", true));
}

} // namespace
