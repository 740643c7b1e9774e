#pragma once
// The service's configuration: one `key = value` file with `#` comments and [news] sections, each top-level
// key overridable by the environment variable ORVANE_LINK_<KEY>. Every value is checked when read.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The defaults of the edge's bounds (docs/running-the-service.md, "Bounds").
namespace bound_defaults {
constexpr int MaxConnectionsPerAddress = 64;
constexpr int HandshakeSeconds = 5;
constexpr int RequestSeconds = 15;
// Callbacks waiting for or in a call to Steam or Discord. With 4 callers and a provider's 10 s deadline, a
// callback never waits behind more than 16 others: at most 40 s when the provider hangs, 4 s when it answers
// in a second; past it the browser is asked to try again at once, its state unspent.
constexpr int ProviderQueue = 16;
} // namespace bound_defaults

struct NewsItem {
    std::int64_t id = 0;
    std::string title;
    std::string body;
    std::string publishedAt;
};

struct ServiceConfig {
    std::string publicHost; // host[:port] the players' browsers reach; callbacks are built on it
    std::string listenAddress;
    std::uint16_t listenPort = 0;
    std::string tlsCertificate; // both empty: plain HTTP on a loopback address behind a reverse proxy
    std::string tlsPrivateKey;
    std::string trustedProxy; // the only peer whose X-Forwarded-For is believed
    std::string database;
    std::string serverAddress;
    std::string communityUrl;
    bool requireLinking = true;
    std::string discordClientId;
    std::string discordClientSecret;
    int sessionLifetimeDays = 30;
    int sessionsPerMinute = 10;  // new sessions per client address
    int requestsPerMinute = 0;   // every request per client address; 0 = unlimited
    int linksPerMinute = 20;     // POST /link/... per client address
    int callbacksPerMinute = 30; // the providers' callbacks and the confirmation form, per client address
    std::string adminApiKey;     // empty: the admin endpoint is off
    int gameServerRequestsPerMinute = 600; // per game-server key (docs/game-server.md)
    // With all three, a pair's Discord member gets this role in the guild (and loses it on unlink or ban).
    std::string discordBotToken;
    std::string discordGuildId;
    std::string discordRoleId;
    int threads = 2;
    int maxConnections = 0; // 0: sized from the descriptor limit at start
    int maxConnectionsPerAddress = bound_defaults::MaxConnectionsPerAddress;
    int handshakeSeconds = bound_defaults::HandshakeSeconds;
    int requestSeconds = bound_defaults::RequestSeconds;
    std::string metricsAddress; // empty: no metrics endpoint; else a loopback address
    std::uint16_t metricsPort = 0;
    std::vector<NewsItem> news;
    // Where the secrets came from, for --check-config's warnings about who else may read them: the *_file
    // keys' files and the TLS key, and whether a secret is written in the configuration file itself.
    std::vector<std::string> secretFiles;
    bool secretInConfigFile = false;

    // The secrets are wiped before their memory is given back: a reload replaces whole configurations.
    ~ServiceConfig();
};

bool discordEnabled(const ServiceConfig& config);
bool servesTls(const ServiceConfig& config);
bool discordRoleEnabled(const ServiceConfig& config);

// Where a problem is: "line 12 (listen)", "ORVANE_LINK_LISTEN" or "listen" for a missing key.
struct ConfigProblem {
    std::string where;
    std::string message;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// The ORVANE_LINK_* variables of this process.
Environment serviceEnvironment();

// Parses and validates the file's text with the overrides; secret files named by *_file keys are read.
// The configuration is usable only when no problem is returned.
std::vector<ConfigProblem> parseServiceConfig(const std::string& text, const Environment& environment,
                                              ServiceConfig& config);
std::vector<ConfigProblem> loadServiceConfig(const std::string& path, const Environment& environment,
                                             ServiceConfig& config);
