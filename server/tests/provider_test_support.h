#pragma once
// Drives the fake providers (fake_providers.py) as a browser and a test would: pages fetched without
// following redirects, and the fake's control port for accounts, modes and what it received.
#include "providers/provider_flows.h"
#include "storage/link_store.h"
#include "support/test_database.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <vector>
#include <string>

struct Fetched {
    long status = 0;
    std::string location;
    std::string body;
};
// GET (or POST when body is given) without following redirects; status 0 when nothing answered.
Fetched fetch(const std::string& url, const std::string* postBody = nullptr);

// The fake's control port (ORVANE_PROVIDERS_CONTROL, set by with-fake-providers.sh).
nlohmann::json controlGet(const std::string& path);
nlohmann::json controlPost(const std::string& path, const nlohmann::json& document);
// Requests the fake received, as {host, method, path, query, form, ...} objects.
nlohmann::json receivedRequests();

// A URL as libcurl's own parser splits it, the query decoded with curl_easy_unescape; independent of
// the service's parseQuery, so a fault there cannot hide one in the URL builders.
struct ParsedUrl {
    std::string scheme, user, host, port, path;
    QueryParams query;
};
ParsedUrl parseWithCurl(const std::string& url);

// The query of a URL (after '?'), split and decoded.
QueryParams queryOf(const std::string& url);
std::string valueOf(const QueryParams& query, const std::string& name);
void setValue(QueryParams& query, const std::string& name, const std::string& value);

std::int64_t unixNow();

// The service's own nonce ledger: a link store on a fresh test database (support/test_database.h), so
// the flows run on SQLite and, under with-postgres.sh, on PostgreSQL.
struct StoreLedger : NonceLedger {
    TempFolder folder;
    std::unique_ptr<LinkStore> store;
    StoreLedger() {
        std::string error;
        store = openLinkStore(freshTestDatabase(folder), error);
        EXPECT_TRUE(store) << error;
    }
    bool remember(const std::string& nonce, std::int64_t expiresAtUnix) override {
        return store && store->remember(nonce, expiresAtUnix);
    }
};

// Each test starts with the fake at its defaults and an empty log.
struct FakeProviders : ::testing::Test {
    void SetUp() override { controlPost("/reset", nlohmann::json::object()); }
    static std::vector<nlohmann::json> requestsTo(const std::string& host, const std::string& method);
    static QueryParams formOf(const nlohmann::json& request);
};
