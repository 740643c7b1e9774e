// orvane-link-service: the community's link service, and its admin's command line over the same database.
#include "admin/backup_command.h"
#include "admin/gameserver_keys_command.h"
#include "admin/players_command.h"
#include "admin/restore_command.h"
#include "admin/service_user.h"
#include "build_info.h"
#include "config/config_reload.h"
#include "config/file_warnings.h"
#include "config/service_config.h"
#include "contract/contract.h"
#include "contract/role_sync.h"
#include "http/edge.h"
#include "http/metrics.h"
#include "providers/provider_flows.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The Discord role follows the pairs from a thread of its own, so a slow or absent Discord never holds a
// player's request; the queue is in the database, so a restart loses no change.
class RoleSync {
  public:
    RoleSync(LinkStore& store, const ProviderCalls& calls, const ServiceConfig& config) {
        if (!discordRoleEnabled(config))
            return;
        thread_ = std::thread([this, &store, &calls,
                               target = DiscordRoleTarget{config.discordBotToken, config.discordGuildId,
                                                          config.discordRoleId}] {
            std::unique_lock guard(lock_);
            while (!stopping_) {
                guard.unlock();
                runRoleTasks(store, calls, target, nowMs() / 1000);
                guard.lock();
                wake_.wait_for(guard, std::chrono::seconds(PassSeconds), [this] { return stopping_; });
            }
        });
    }
    ~RoleSync() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    RoleSync(const RoleSync&) = delete;
    RoleSync& operator=(const RoleSync&) = delete;

  private:
    static constexpr int PassSeconds = 5;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

const char* const Usage =
    "usage: orvane-link-service --config FILE                 serve\n"
    "       orvane-link-service --config FILE --check-config  check the configuration\n"
    "       orvane-link-service --version\n"
    "       orvane-link-service --config FILE players list\n"
    "       orvane-link-service --config FILE players show STEAMID64\n"
    "       orvane-link-service --config FILE players unlink STEAMID64\n"
    "       orvane-link-service --config FILE players ban STEAMID64 --reason TEXT\n"
    "       orvane-link-service --config FILE players unban STEAMID64\n"
    "       orvane-link-service --config FILE gameserver-keys add NAME  the key is shown only then\n"
    "       orvane-link-service --config FILE gameserver-keys list\n"
    "       orvane-link-service --config FILE gameserver-keys revoke NAME\n"
    "       orvane-link-service --config FILE backup DEST  copy the database while it serves\n"
    "       orvane-link-service --config FILE restore SOURCE  with the service stopped\n"
    "Started as root, --check-config and the commands run as the service's user, orvane-link.\n";

ProviderCalls realProviderCalls() {
    ProviderCalls calls;
    calls.steamLoginUrl = steamLoginUrl;
    calls.steamReturnTo = steamReturnTo;
    calls.verifySteam = verifySteamCallback;
    calls.discordAuthorizationUrl = discordAuthorizationUrl;
    calls.completeDiscord = completeDiscordCallback;
    calls.setDiscordRole = setDiscordMemberRole;
    return calls;
}

// Everything --check-config can tell without listening: values, files, and whether the documents fit.
std::vector<ConfigProblem> checkConfig(const std::string& path, ServiceConfig& config) {
    std::vector<ConfigProblem> problems = loadServiceConfig(path, serviceEnvironment(), config);
    if (!problems.empty())
        return problems;
    if (config.publicHost.size() > kMaxPublicHostLength)
        problems.push_back({"public_host", "at most " + std::to_string(kMaxPublicHostLength) +
                                               " characters, so the authorisation addresses stay short"});
    std::string error;
    if (servesTls(config) && !checkTlsFiles(config.tlsCertificate, config.tlsPrivateKey, error))
        problems.push_back({"tls_certificate", error});
    if (configDocumentOf(config).empty())
        problems.push_back({"[news]", "the news make the /config document longer than the launcher reads; "
                                      "shorten or remove some"});
    return problems;
}

EdgeOptions edgeOptionsOf(const ServiceConfig& config, std::int64_t descriptors) {
    EdgeOptions options;
    options.address = config.listenAddress;
    options.port = config.listenPort;
    options.certificateFile = config.tlsCertificate;
    options.privateKeyFile = config.tlsPrivateKey;
    options.trustedProxy = config.trustedProxy;
    options.threads = config.threads;
    options.maxConnections = connectionsAllowed(descriptors, config.maxConnections);
    options.maxConnectionsPerAddress = config.maxConnectionsPerAddress;
    options.handshakeSeconds = config.handshakeSeconds;
    options.readSeconds = config.requestSeconds;
    return options;
}

// The connection string is not printed: it may hold a password. A ban or unlink from the command line
// queues its role change like one made over the network; the serving instances carry it out.
std::unique_ptr<LinkStore> openStore(const ServiceConfig& config) {
    std::string error;
    std::unique_ptr<LinkStore> store = openLinkStore(config.database, error);
    if (!store)
        std::cerr << "cannot open the database: " << error << "\n";
    else if (discordRoleEnabled(config))
        store->queueRoleChanges(true);
    return store;
}

// SIGHUP: the configuration file read again. A file with a problem is refused whole and the values in
// use stay; otherwise the launchers' document and Discord change at once, and the log names the keys that
// changed but wait for a restart.
void reloadConfig(const std::string& path, const ServiceConfig& started, Service& service,
                  const std::function<void(const std::string&)>& log) {
    ServiceConfig fresh;
    std::vector<ConfigProblem> problems = loadServiceConfig(path, serviceEnvironment(), fresh);
    std::vector<std::string> restartKeys;
    if (problems.empty() && !replaceSettings(service, reloadedConfig(started, fresh, restartKeys)))
        problems.push_back({"[news]", "the /config document would be longer than the launcher reads"});
    const auto joined = [](const auto& items, const auto& text) {
        std::string line;
        for (const auto& item : items)
            line += (line.empty() ? "" : "; ") + text(item);
        return line;
    };
    if (!problems.empty())
        return log(eventLogLine("config_refused", {{"reason", joined(problems, [](const ConfigProblem& p) {
                                                        return p.where + ": " + p.message;
                                                    })}}));
    nlohmann::json fields = nlohmann::json::object();
    if (!restartKeys.empty())
        fields["restart_needed"] = joined(restartKeys, [](const std::string& key) { return key; });
    log(eventLogLine("config_reloaded", fields));
}

int serve(const std::string& path, const ServiceConfig& config) {
    std::string error;
    std::unique_ptr<LinkStore> store = openStore(config);
    if (!store)
        return 1;
    if (!initProviderHttps()) {
        std::cerr << "cannot set up the HTTPS client for Steam and Discord\n";
        return 1;
    }
    Metrics metrics;
    Service service;
    prepareService(service, config, *store, countingFailures(realProviderCalls(), metrics));

    std::mutex logLock;
    EdgeHooks hooks;
    hooks.handle = [&](const Request& request) { return handleRequest(service, request, nowMs()); };
    hooks.blocks = callsProvider;
    hooks.busy = [](const Request&) { return providersBusyPage(); };
    hooks.log = [&](const std::string& line) {
        std::lock_guard guard(logLock);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    hooks.answered = [&](const std::string& route, int status, double seconds, const std::string& reason) {
        recordAnswer(metrics, route, status, seconds, reason);
    };
    hooks.housekeeping = [&] { store->removeExpired(nowMs() / 1000); };

    const DescriptorLimit descriptors = raiseDescriptorLimit();
    hooks.log(
        eventLogLine("descriptors", {{"limit", descriptors.now}, {"started_with", descriptors.before}}));
    const EdgeOptions options = edgeOptionsOf(config, descriptors.now);
    const std::shared_ptr<Edge> edge = startEdge(options, hooks, error);
    if (!edge) {
        std::cerr << error << "\n";
        return 1;
    }
    metrics.served = edge;
    std::shared_ptr<Edge> metricsEdge;
    if (!config.metricsAddress.empty() &&
        !(metricsEdge =
              startMetricsEdge(config.metricsAddress, config.metricsPort, metrics, *store, error))) {
        std::cerr << "metrics: " << error << "\n";
        stopEdge(*edge);
        return 1;
    }
    RoleSync roleSync(*store, service.providers, config);
    const auto hangup = [&] { reloadConfig(path, config, service, hooks.log); };
    serveUntilSignal(
        *edge,
        [&] {
            hooks.log(
                eventLogLine("serving", {{"url", "https://" + config.publicHost + BasePath},
                                         {"listen", config.listenAddress},
                                         {"port", edgePort(*edge)},
                                         {"tls", servesTls(config)},
                                         {"max_connections", options.maxConnections},
                                         {"max_connections_per_address", options.maxConnectionsPerAddress},
                                         {"handshake_seconds", options.handshakeSeconds},
                                         {"request_seconds", options.readSeconds}}));
            if (metricsEdge)
                hooks.log(eventLogLine("metrics",
                                       {{"url", "http://" + config.metricsAddress + ":" +
                                                    std::to_string(edgePort(*metricsEdge)) + "/metrics"}}));
        },
        hangup);
    if (metricsEdge)
        stopEdge(*metricsEdge);
    hooks.log(eventLogLine("stopped", {}));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Whatever the service writes (the database, its backups) is its user's alone, however it was started.
    ::umask(0077);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "orvane-link-service " << BuildVersion << " (commit " << BuildCommit << ")\n";
        return 0;
    }
    if (arguments.size() < 2 || arguments[0] != "--config") {
        std::cerr << Usage;
        return 2;
    }
    const std::string& path = arguments[1];
    const std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
    const bool checkOnly = rest.size() == 1 && rest[0] == "--check-config";
    std::string error;
    // The check reads every file as the service will, so a key only root can read is found here; a
    // command reads them first, as root may have to, and then acts as the service.
    if (checkOnly && !becomeServiceUser(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    ServiceConfig config;
    const std::vector<ConfigProblem> problems = checkConfig(path, config);
    for (const ConfigProblem& problem : problems)
        std::cerr << path << ": " << problem.where << ": " << problem.message << "\n";
    if (!problems.empty())
        return 1;
    if (rest.empty())
        return serve(path, config);
    if (checkOnly) {
        for (const std::string& warning : fileWarnings(path, config, serviceIdentity()))
            std::cerr << "warning: " << warning << "\n";
        std::cout << path << ": the configuration is valid\n";
        return 0;
    }
    if (!becomeServiceUser(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    if (rest[0] == "players" || rest[0] == "gameserver-keys") {
        std::unique_ptr<LinkStore> store = openStore(config);
        if (!store)
            return 1;
        const std::vector<std::string> command(rest.begin() + 1, rest.end());
        return (rest[0] == "players" ? runPlayersCommand : runGameServerKeysCommand)(
            *store, command, nowMs() / 1000, std::cout, std::cerr);
    }
    if (rest.size() == 2 && rest[0] == "backup")
        return runBackup(config.database, rest[1], std::cout, std::cerr);
    if (rest.size() == 2 && rest[0] == "restore")
        return runRestore(config.database, rest[1], std::cout, std::cerr);
    std::cerr << Usage;
    return 2;
}
