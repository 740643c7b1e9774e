#include "config/service_config.h"
#include "config/document_rules.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string.h>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

extern char** environ;

namespace {

constexpr std::size_t MaxFileBytes = 1 << 20;
constexpr std::size_t MaxSecretBytes = 4096;
const std::string EnvironmentPrefix = "ORVANE_LINK_";

struct Entry {
    std::string value;
    std::string where;
};
using Entries = std::map<std::string, Entry>;

using Problems = std::vector<ConfigProblem>;

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool readBounded(const std::string& path, std::size_t maxBytes, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad() && text.size() <= maxBytes;
}

bool parseInteger(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || text.size() > 16)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

bool isIpAddress(const std::string& text) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

bool isLoopback(const std::string& address) {
    unsigned char bytes[16];
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1)
        return bytes[0] == 127;
    return address == "::1";
}

bool isHostName(const std::string& host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.' || host.front() == '-')
        return false;
    for (char c : host)
        if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) &&
            c != '-' && c != '.')
            return false;
    return host.find("..") == std::string::npos;
}

bool visibleAscii(const std::string& text) {
    for (char c : text)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    return true;
}

// One setter per key: false with a message when the value is out of bounds.
using Setter = bool (*)(const std::string& value, ServiceConfig& config, std::string& error);

bool setPort(const std::string& text, std::uint16_t& port) {
    long long value = 0;
    if (!parseInteger(text, 1, 65535, value))
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool setPublicHost(const std::string& value, ServiceConfig& config, std::string& error) {
    const std::size_t colon = value.find(':');
    std::uint16_t port = 0;
    if (!isHostName(value.substr(0, colon)) ||
        (colon != std::string::npos && !setPort(value.substr(colon + 1), port))) {
        error = "expected a lower-case host name, optionally with :port (links.example.org)";
        return false;
    }
    config.publicHost = value;
    return true;
}

bool parseListen(const std::string& value, std::string& address, std::uint16_t& port) {
    const std::size_t colon = value.rfind(':');
    address = colon == std::string::npos ? std::string() : value.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    return colon != std::string::npos && isIpAddress(address) && setPort(value.substr(colon + 1), port);
}

bool setListen(const std::string& value, ServiceConfig& config, std::string& error) {
    if (!parseListen(value, config.listenAddress, config.listenPort)) {
        error = "expected an IP address and a port, as 0.0.0.0:443 or [::1]:8443";
        return false;
    }
    return true;
}

// The metrics tell how busy the community is and are not for strangers: loopback only, scraped locally.
bool setMetricsListen(const std::string& value, ServiceConfig& config, std::string& error) {
    if (!parseListen(value, config.metricsAddress, config.metricsPort) ||
        !isLoopback(config.metricsAddress)) {
        config.metricsAddress.clear();
        error = "expected a loopback address and a port, as 127.0.0.1:9464 or [::1]:9464";
        return false;
    }
    return true;
}

// Why this process cannot open the file (permission denied, no such file ...), or empty when it can.
std::string unreadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    return std::strerror(errno);
}

bool setReadablePath(const std::string& value, std::string& field, std::string& error) {
    const std::string why = unreadable(value);
    if (!why.empty()) {
        error = "cannot read the file " + value + ": " + why;
        return false;
    }
    field = value;
    return true;
}

bool setSecretFromFile(const std::string& path, std::string& field, std::string& error) {
    std::string text;
    const std::string why = unreadable(path);
    if (!why.empty() || !readBounded(path, MaxSecretBytes, text)) {
        error = "cannot read the file " + path + ": " +
                (why.empty() ? "more than " + std::to_string(MaxSecretBytes) + " bytes" : why);
        return false;
    }
    field = trim(text.substr(0, text.find('\n')));
    return true;
}

bool setBool(const std::string& value, bool& field, std::string& error) {
    if (value != "true" && value != "false") {
        error = "expected true or false";
        return false;
    }
    field = value == "true";
    return true;
}

bool setNumber(const std::string& value, long long low, long long high, int& field, std::string& error) {
    long long number = 0;
    if (!parseInteger(value, low, high, number)) {
        error = "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    field = static_cast<int>(number);
    return true;
}

// A Discord id: 16 to 20 digits.
bool setSnowflake(const std::string& value, std::string& field, std::string& error) {
    if (value.size() < 16 || value.size() > 20 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
        error = "expected a Discord id: 16 to 20 digits";
        return false;
    }
    field = value;
    return true;
}

const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> table = {
        {"public_host", setPublicHost},
        {"listen", setListen},
        {"metrics_listen", setMetricsListen},
        {"tls_certificate", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setReadablePath(v, c.tlsCertificate, e); }},
        {"tls_private_key", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setReadablePath(v, c.tlsPrivateKey, e); }},
        {"trusted_proxy",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (!isIpAddress(v)) {
                 e = "expected the proxy's IP address, as 127.0.0.1";
                 return false;
             }
             c.trustedProxy = v;
             return true;
         }},
        {"database",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (v.empty() || v.size() > 4096) {
                 e = "expected the path of the SQLite file or a postgresql:// connection string";
                 return false;
             }
             c.database = v;
             return true;
         }},
        {"server_address",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (!isServerAddress(v)) {
                 e = "expected host:port with a single colon (letters, digits, '-' and '.'), at most " +
                     std::to_string(limits::ServerAddressBytes) + " characters, port 1-65535";
                 return false;
             }
             c.serverAddress = v;
             return true;
         }},
        {"community_url",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (!isCommunityUrl(v)) {
                 e = "expected an https:// URL without user information or spaces, at most " +
                     std::to_string(limits::CommunityUrlBytes) + " characters";
                 return false;
             }
             c.communityUrl = v;
             return true;
         }},
        {"require_linking", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setBool(v, c.requireLinking, e); }},
        {"discord_client_id",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (v.empty() || v.size() > 24 || v.find_first_not_of("0123456789") != std::string::npos) {
                 e = "expected the application's numeric client id";
                 return false;
             }
             c.discordClientId = v;
             return true;
         }},
        {"discord_client_secret",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (v.size() > 256 || !visibleAscii(v)) {
                 e = "expected the client secret: visible ASCII, at most 256 characters";
                 return false;
             }
             c.discordClientSecret = v;
             return true;
         }},
        {"discord_client_secret_file",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setSecretFromFile(v, c.discordClientSecret, e);
         }},
        {"session_lifetime_days",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 1, 365, c.sessionLifetimeDays, e);
         }},
        {"sessions_per_minute",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 1, 100000, c.sessionsPerMinute, e);
         }},
        {"links_per_minute", [](const std::string& v, ServiceConfig& c,
                                std::string& e) { return setNumber(v, 1, 100000, c.linksPerMinute, e); }},
        {"callbacks_per_minute",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 1, 100000, c.callbacksPerMinute, e);
         }},
        {"requests_per_minute",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 0, 1000000, c.requestsPerMinute, e);
         }},
        {"admin_api_key",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             (void)e;
             c.adminApiKey = v;
             return true;
         }},
        {"admin_api_key_file", [](const std::string& v, ServiceConfig& c,
                                  std::string& e) { return setSecretFromFile(v, c.adminApiKey, e); }},
        {"gameserver_requests_per_minute",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 1, 1000000, c.gameServerRequestsPerMinute, e);
         }},
        {"discord_bot_token_file",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             if (!setSecretFromFile(v, c.discordBotToken, e))
                 return false;
             if (c.discordBotToken.empty() || !visibleAscii(c.discordBotToken)) {
                 e = "expected the bot's token on the file's first line: visible ASCII";
                 return false;
             }
             return true;
         }},
        {"discord_guild_id", [](const std::string& v, ServiceConfig& c,
                                std::string& e) { return setSnowflake(v, c.discordGuildId, e); }},
        {"discord_role_id", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setSnowflake(v, c.discordRoleId, e); }},
        {"threads", [](const std::string& v, ServiceConfig& c,
                       std::string& e) { return setNumber(v, 1, 64, c.threads, e); }},
        {"max_connections", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setNumber(v, 1, 1000000, c.maxConnections, e); }},
        {"max_connections_per_address",
         [](const std::string& v, ServiceConfig& c, std::string& e) {
             return setNumber(v, 1, 1000000, c.maxConnectionsPerAddress, e);
         }},
        {"handshake_seconds", [](const std::string& v, ServiceConfig& c,
                                 std::string& e) { return setNumber(v, 1, 60, c.handshakeSeconds, e); }},
        {"request_seconds", [](const std::string& v, ServiceConfig& c,
                               std::string& e) { return setNumber(v, 1, 300, c.requestSeconds, e); }},
    };
    return table;
}

// "\n", "\t" and "\\" in a news body; any other backslash is refused.
bool unescapeBody(const std::string& text, std::string& body) {
    body.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            body += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        if (text[i] == 'n')
            body += '\n';
        else if (text[i] == 't')
            body += '\t';
        else if (text[i] == '\\')
            body += '\\';
        else
            return false;
    }
    return true;
}

void readNewsItem(const Entries& entries, const std::string& sectionWhere, ServiceConfig& config,
                  Problems& problems) {
    NewsItem item;
    const auto need = [&](const char* key) -> const Entry* {
        const auto found = entries.find(key);
        if (found == entries.end())
            problems.push_back({sectionWhere, std::string("the news item has no ") + key});
        return found == entries.end() ? nullptr : &found->second;
    };
    for (const auto& [key, entry] : entries)
        if (key != "id" && key != "title" && key != "body" && key != "published_at")
            problems.push_back({entry.where, "unknown key of a [news] section"});
    long long id = 0;
    if (const Entry* e = need("id")) {
        if (!parseInteger(e->value, 1, 9'007'199'254'740'991, id))
            problems.push_back({e->where, "expected a whole number greater than 0"});
        for (const NewsItem& other : config.news)
            if (id != 0 && other.id == id)
                problems.push_back({e->where, "another news item has the same id"});
        item.id = id;
    }
    if (const Entry* e = need("title")) {
        if (e->value.empty() || e->value.size() > limits::NewsTitleBytes || !isCleanText(e->value, false))
            problems.push_back({e->where, "expected 1 to " + std::to_string(limits::NewsTitleBytes) +
                                              " bytes of UTF-8 text without control characters"});
        item.title = e->value;
    }
    if (const Entry* e = need("body")) {
        if (!unescapeBody(e->value, item.body))
            problems.push_back({e->where, "a backslash starts only \\n, \\t or \\\\"});
        else if (item.body.size() > limits::NewsBodyBytes || !isCleanText(item.body, true))
            problems.push_back({e->where, "expected at most " + std::to_string(limits::NewsBodyBytes) +
                                              " bytes of UTF-8 text; of the control characters only tab and "
                                              "line breaks"});
    }
    if (const Entry* e = need("published_at")) {
        if (!isTimestamp(e->value))
            problems.push_back({e->where, "expected a UTC time as 2026-10-08T17:00:00Z"});
        item.publishedAt = e->value;
    }
    config.news.push_back(item);
}

void checkTogether(const Entries& top, const ServiceConfig& config, Problems& problems) {
    for (const char* key : {"public_host", "listen", "database"})
        if (!top.count(key))
            problems.push_back({key, "is required"});
    // The place of the first of the keys that is given, or the first key's name.
    const auto where = [&](const char* key, const char* other) {
        for (const char* name : {key, other})
            if (top.count(name))
                return top.at(name).where;
        return std::string(key);
    };
    if (top.count("tls_certificate") != top.count("tls_private_key"))
        problems.push_back(
            {where("tls_certificate", "tls_private_key"), "tls_certificate and tls_private_key go together"});
    if (!top.count("tls_certificate") && !config.listenAddress.empty() && !isLoopback(config.listenAddress))
        problems.push_back({where("listen", "listen"),
                            "without tls_certificate the service speaks plain HTTP, which it does only on a "
                            "loopback address behind a reverse proxy"});
    // Behind a proxy every player arrives from the proxy's address: without knowing it, every player
    // would share one rate-limit bucket and one network.
    if (!top.count("tls_certificate") && !top.count("trusted_proxy"))
        problems.push_back(
            {where("listen", "listen"),
             "plain HTTP is served only behind a reverse proxy: give its address as trusted_proxy "
             "(127.0.0.1 for a proxy on this machine), so each player is known by their own "
             "address"});
    if (top.count("discord_client_secret") && top.count("discord_client_secret_file"))
        problems.push_back({where("discord_client_secret_file", "discord_client_secret"),
                            "give discord_client_secret or discord_client_secret_file, not both"});
    if (top.count("admin_api_key") && top.count("admin_api_key_file"))
        problems.push_back({where("admin_api_key_file", "admin_api_key"),
                            "give admin_api_key or admin_api_key_file, not both"});
    if (!config.adminApiKey.empty() && (config.adminApiKey.size() < 32 || config.adminApiKey.size() > 256 ||
                                        !visibleAscii(config.adminApiKey)))
        problems.push_back({where("admin_api_key", "admin_api_key_file"),
                            "expected 32 to 256 visible ASCII characters (openssl rand -hex 32)"});
    if (config.discordClientId.empty() != config.discordClientSecret.empty())
        problems.push_back({where("discord_client_id", "discord_client_secret"),
                            "Discord needs both discord_client_id and its secret"});
    const bool anyRole =
        top.count("discord_bot_token_file") || top.count("discord_guild_id") || top.count("discord_role_id");
    if (anyRole && !(top.count("discord_bot_token_file") && top.count("discord_guild_id") &&
                     top.count("discord_role_id")))
        problems.push_back({where("discord_role_id", "discord_guild_id"),
                            "the Discord role needs discord_bot_token_file, discord_guild_id and "
                            "discord_role_id together"});
    if (anyRole && !discordEnabled(config))
        problems.push_back({where("discord_role_id", "discord_guild_id"),
                            "the Discord role needs Discord itself (discord_client_id and its secret)"});
    if (config.news.size() > limits::NewsItems)
        problems.push_back({"[news]", "at most " + std::to_string(limits::NewsItems) + " news items"});
}

} // namespace

ServiceConfig::~ServiceConfig() {
    for (std::string* secret : {&discordClientSecret, &adminApiKey, &discordBotToken})
        ::explicit_bzero(secret->data(), secret->size());
}

bool discordEnabled(const ServiceConfig& config) {
    return !config.discordClientId.empty() && !config.discordClientSecret.empty();
}

bool discordRoleEnabled(const ServiceConfig& config) {
    return discordEnabled(config) && !config.discordBotToken.empty() && !config.discordGuildId.empty() &&
           !config.discordRoleId.empty();
}

bool servesTls(const ServiceConfig& config) {
    return !config.tlsCertificate.empty();
}

Environment serviceEnvironment() {
    Environment environment;
    for (char** variable = environ; variable && *variable; ++variable) {
        const std::string text = *variable;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos && text.compare(0, EnvironmentPrefix.size(), EnvironmentPrefix) == 0)
            environment.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return environment;
}

std::vector<ConfigProblem> parseServiceConfig(const std::string& text, const Environment& environment,
                                              ServiceConfig& config) {
    config = ServiceConfig{};
    Problems problems;
    Entries top;
    std::vector<std::pair<std::string, Entries>> news;
    Entries* section = &top;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = trim(text.substr(at, end - at));
        at = end + 1;
        const std::string where = "line " + std::to_string(++lineNumber);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line != "[news]") {
                problems.push_back({where, "unknown section " + line + " (only [news])"});
                section = nullptr;
                continue;
            }
            news.emplace_back(where, Entries{});
            section = &news.back().second;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problems.push_back({where, "expected key = value"});
            continue;
        }
        const std::string key = trim(line.substr(0, equals));
        if (!section)
            continue;
        if (section->count(key)) {
            problems.push_back({where + " (" + key + ")", "repeats a key of " + section->at(key).where});
            continue;
        }
        (*section)[key] = {trim(line.substr(equals + 1)), where + " (" + key + ")"};
    }
    for (const auto& [name, value] : environment) {
        if (name.compare(0, EnvironmentPrefix.size(), EnvironmentPrefix) != 0)
            continue;
        std::string key = name.substr(EnvironmentPrefix.size());
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        top[key] = {value, name};
    }
    for (const char* key :
         {"discord_client_secret_file", "admin_api_key_file", "discord_bot_token_file", "tls_private_key"})
        if (top.count(key))
            config.secretFiles.push_back(top.at(key).value);
    for (const char* key : {"discord_client_secret", "admin_api_key"})
        if (top.count(key) && top.at(key).where.rfind("line ", 0) == 0)
            config.secretInConfigFile = true;
    for (const auto& [key, entry] : top) {
        const auto setter = setters().find(key);
        std::string error;
        if (setter == setters().end())
            problems.push_back({entry.where, "unknown key"});
        else if (!setter->second(entry.value, config, error))
            problems.push_back({entry.where, error});
    }
    for (const auto& [where, entries] : news)
        readNewsItem(entries, where + " [news]", config, problems);
    checkTogether(top, config, problems);
    return problems;
}

std::vector<ConfigProblem> loadServiceConfig(const std::string& path, const Environment& environment,
                                             ServiceConfig& config) {
    std::string text;
    if (!readBounded(path, MaxFileBytes, text))
        return {{path, "cannot read the configuration file (at most 1 MiB)"}};
    return parseServiceConfig(text, environment, config);
}
