#include "support/service_fixture.h"
#include "storage/secrets.h"
#include "storage/sql_connection.h"

#include <filesystem>

ServiceConfig fixtureConfig() {
    ServiceConfig config;
    config.publicHost = "links.example.org";
    config.listenAddress = "127.0.0.1";
    config.listenPort = 8443;
    config.database = "unused: the fixture opens its own";
    config.serverAddress = "203.0.113.7:27015";
    config.communityUrl = "https://example.org/comunidad";
    config.requireLinking = true;
    config.discordClientId = "123456789012345678";
    config.discordClientSecret = "discord-secret";
    config.sessionLifetimeDays = 30;
    config.sessionsPerMinute = 1000;
    config.linksPerMinute = 1000;
    config.callbacksPerMinute = 1000;
    config.adminApiKey = "admin-key-admin-key-admin-key-admin-key";
    config.news = {{3, "Temporada 3", "Nos vemos\nen el servidor.", "2026-10-08T17:00:00Z"}};
    return config;
}

std::string headerOf(const Response& response, const std::string& name) {
    for (const auto& [key, value] : response.headers)
        if (key == name)
            return value;
    return {};
}

ProviderResult providerAccount(const std::string& id, const std::string& name) {
    ProviderResult result;
    result.account = {id, name};
    return result;
}

ProviderCalls scriptedCalls(ScriptedProviders& script) {
    ProviderCalls calls;
    calls.steamReturnTo = [](const std::string& host, const std::string& state) {
        return "https://" + host + BasePath + "/callback/steam?state=" + state;
    };
    calls.steamLoginUrl = [returnTo = calls.steamReturnTo](const std::string& host,
                                                           const std::string& state) {
        return "https://steamcommunity.com/openid/login?openid.mode=checkid_setup&openid.return_to=" +
               returnTo(host, state);
    };
    calls.verifySteam = [&script](const QueryParams& query, const std::string& expected, std::int64_t,
                                  NonceLedger&) {
        ++script.steamChecks;
        script.lastReturnTo = expected;
        script.lastQuery = query;
        return script.nextSteam;
    };
    calls.discordAuthorizationUrl = [&script](const DiscordApp& app, const std::string&,
                                              const std::string& state, const std::string& verifier) {
        script.verifierOfState[state] = verifier;
        return "https://discord.com/oauth2/authorize?response_type=code&client_id=" + app.clientId +
               "&scope=identify&state=" + state;
    };
    calls.completeDiscord = [&script](const QueryParams& query, const DiscordApp&, const std::string&,
                                      const std::string& verifier) {
        ++script.discordExchanges;
        script.lastQuery = query;
        script.lastVerifier = verifier;
        return script.nextDiscord;
    };
    return calls;
}

void ServiceFixture::SetUp() {
    database = freshTestDatabase(folder);
    start(fixtureConfig());
}

void ServiceFixture::startFresh() {
    store.reset();
    if (!isPostgresDatabase(database))
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(database + suffix);
    SetUp();
}

void ServiceFixture::start(const ServiceConfig& config) {
    store.reset();
    std::string error;
    store = openLinkStore(database, error);
    ASSERT_TRUE(store) << error;
    service.newSessions.buckets.clear();
    service.everyRequest.buckets.clear();
    service.perKey.buckets.clear();
    service.linkStarts.buckets.clear();
    service.callbacks.buckets.clear();
    service.gameServerKeys.read = false;
    ASSERT_TRUE(prepareService(service, config, *store, scriptedCalls(script)));
}

Response ServiceFixture::call(const std::string& method, const std::string& path, const std::string& token,
                              const std::string& query, const std::string& client) {
    Request request;
    request.method = method;
    request.path = BasePath + path;
    request.query = query;
    request.authorization = token.empty() ? std::string() : "Bearer " + token;
    request.clientAddress = client;
    request.body = method == "POST" ? "{}" : "";
    return handleRequest(service, request, nowMs);
}

nlohmann::json ServiceFixture::json(const Response& response) const {
    return nlohmann::json::parse(response.body, nullptr, false);
}

std::string ServiceFixture::newSession(const std::string& client) {
    const Response response = call("POST", "/sessions", {}, {}, client);
    EXPECT_EQ(response.status, 201);
    const auto document = json(response);
    return document.is_object() && document["token"].is_string() ? document["token"].get<std::string>()
                                                                 : std::string();
}

std::string ServiceFixture::startLink(const std::string& token, const std::string& provider,
                                      const std::string& client) {
    const Response response = call("POST", "/link/" + provider, token, {}, client);
    EXPECT_EQ(response.status, 200) << response.body;
    const auto document = json(response);
    if (!document.is_object() || !document["url"].is_string())
        return {};
    const std::string url = document["url"];
    const std::size_t at = url.find("state=");
    return at == std::string::npos ? std::string() : url.substr(at + 6, 43);
}

Response ServiceFixture::callback(const std::string& provider, const std::string& query,
                                  const std::string& client) {
    return call("GET", "/callback/" + provider, {}, query, client);
}

std::string ServiceFixture::confirmationToken(const Response& page) {
    const std::string mark = "name=\"token\" value=\"";
    const std::size_t at = page.body.find(mark);
    return at == std::string::npos ? std::string() : page.body.substr(at + mark.size(), 43);
}

Response ServiceFixture::confirm(const std::string& token, const std::string& action,
                                 const std::string& client) {
    Request request;
    request.method = "POST";
    request.path = BasePath + "/callback/confirm";
    request.clientAddress = client;
    request.body = "token=" + token + "&action=" + action;
    return handleRequest(service, request, nowMs);
}

std::string addGameServerKey(LinkStore& store, const std::string& name) {
    std::string key;
    EXPECT_TRUE(newRandomToken(key));
    EXPECT_EQ(store.addGameServerKey({name, sha256Hex(key), FixtureStartMs / 1000}), StoreResult::Ok);
    return key;
}

Response ServiceFixture::linkSteam(const std::string& token, const std::string& id, const std::string& name) {
    script.nextSteam = providerAccount(id, name);
    return callback("steam", "state=" + startLink(token, "steam") + "&openid.mode=id_res");
}

Response ServiceFixture::linkDiscord(const std::string& token, const std::string& id,
                                     const std::string& name) {
    script.nextDiscord = providerAccount(id, name);
    return callback("discord", "code=abc&state=" + startLink(token, "discord"));
}

nlohmann::json ServiceFixture::status(const std::string& token) {
    const Response response = call("GET", "/session", token);
    EXPECT_EQ(response.status, 200) << response.body;
    return json(response);
}
