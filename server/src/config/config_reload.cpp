#include "config/config_reload.h"

namespace {

using Same = bool (*)(const ServiceConfig&, const ServiceConfig&);

template <auto Field> bool same(const ServiceConfig& a, const ServiceConfig& b) {
    return a.*Field == b.*Field;
}

// Every key a reload leaves as it was, by the name the configuration file gives it.
const std::pair<const char*, Same> RestartKeys[] = {
    {"public_host", same<&ServiceConfig::publicHost>},
    {"listen",
     [](const ServiceConfig& a, const ServiceConfig& b) {
         return a.listenAddress == b.listenAddress && a.listenPort == b.listenPort;
     }},
    {"tls_certificate", same<&ServiceConfig::tlsCertificate>},
    {"tls_private_key", same<&ServiceConfig::tlsPrivateKey>},
    {"trusted_proxy", same<&ServiceConfig::trustedProxy>},
    {"database", same<&ServiceConfig::database>},
    {"session_lifetime_days", same<&ServiceConfig::sessionLifetimeDays>},
    {"sessions_per_minute", same<&ServiceConfig::sessionsPerMinute>},
    {"requests_per_minute", same<&ServiceConfig::requestsPerMinute>},
    {"links_per_minute", same<&ServiceConfig::linksPerMinute>},
    {"callbacks_per_minute", same<&ServiceConfig::callbacksPerMinute>},
    {"admin_api_key", same<&ServiceConfig::adminApiKey>},
    {"gameserver_requests_per_minute", same<&ServiceConfig::gameServerRequestsPerMinute>},
    {"discord_bot_token_file", same<&ServiceConfig::discordBotToken>},
    {"discord_guild_id", same<&ServiceConfig::discordGuildId>},
    {"discord_role_id", same<&ServiceConfig::discordRoleId>},
    {"threads", same<&ServiceConfig::threads>},
    {"metrics_listen",
     [](const ServiceConfig& a, const ServiceConfig& b) {
         return a.metricsAddress == b.metricsAddress && a.metricsPort == b.metricsPort;
     }},
};

} // namespace

ServiceConfig reloadedConfig(const ServiceConfig& running, const ServiceConfig& fresh,
                             std::vector<std::string>& restartKeys) {
    restartKeys.clear();
    for (const auto& [key, unchanged] : RestartKeys)
        if (!unchanged(running, fresh))
            restartKeys.push_back(key);
    ServiceConfig config = running;
    config.serverAddress = fresh.serverAddress;
    config.communityUrl = fresh.communityUrl;
    config.requireLinking = fresh.requireLinking;
    config.news = fresh.news;
    config.discordClientId = fresh.discordClientId;
    config.discordClientSecret = fresh.discordClientSecret;
    return config;
}
