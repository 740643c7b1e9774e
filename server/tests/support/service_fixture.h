#pragma once
// A service on a real SQLite file in a temporary folder, with Steam and Discord scripted: each callback
// answers what the test put in nextSteam / nextDiscord and records what the service asked.
#include "contract/contract.h"
#include "support/test_database.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>

constexpr std::int64_t FixtureStartMs = 1'800'000'000'000;

struct ScriptedProviders {
    ProviderResult nextSteam;
    ProviderResult nextDiscord;
    int steamChecks = 0;
    int discordExchanges = 0;
    std::string lastReturnTo;
    QueryParams lastQuery;
    std::map<std::string, std::string> verifierOfState; // as the authorisation URL was built with it
    std::string lastVerifier;                           // as the code was exchanged with it
};

ServiceConfig fixtureConfig();
// The value of an answer's header, or empty.
std::string headerOf(const Response& response, const std::string& name);
// A game-server key stored under the name, as the command line adds one; the key itself is returned.
std::string addGameServerKey(LinkStore& store, const std::string& name);
ProviderCalls scriptedCalls(ScriptedProviders& script);
ProviderResult providerAccount(const std::string& id, const std::string& name);

struct ServiceFixture : ::testing::Test {
    TempFolder folder;
    std::string database; // support/test_database.h: SQLite or PostgreSQL
    std::unique_ptr<LinkStore> store;
    ScriptedProviders script;
    Service service;
    std::int64_t nowMs = FixtureStartMs;

    void SetUp() override;
    // The service again on an empty database, for a table's next case.
    void startFresh();
    void start(const ServiceConfig& config);

    Response call(const std::string& method, const std::string& path, const std::string& token = {},
                  const std::string& query = {}, const std::string& client = "203.0.113.9");
    nlohmann::json json(const Response& response) const;
    std::string newSession(const std::string& client = "203.0.113.9");
    // The state inside the authorisation URL that POST /link/<provider> answered.
    std::string startLink(const std::string& token, const std::string& provider,
                          const std::string& client = "203.0.113.9");
    Response callback(const std::string& provider, const std::string& query,
                      const std::string& client = "203.0.113.9");
    // The one-time token of a confirmation page, or empty when the page has no form.
    static std::string confirmationToken(const Response& page);
    // The confirmation form posted back: action "confirm" or "cancel".
    Response confirm(const std::string& token, const std::string& action,
                     const std::string& client = "203.0.113.9");
    Response linkSteam(const std::string& token, const std::string& id, const std::string& name = "Jugador");
    Response linkDiscord(const std::string& token, const std::string& id,
                         const std::string& name = "jugador");
    nlohmann::json status(const std::string& token);
};
