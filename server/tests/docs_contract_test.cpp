// The service against the admins' document: every endpoint of its `contract` tables is asked of the
// service, and every answer is checked by the document's own rules (its members table, read row by row).
#include "support/contract_tables.h"
#include "support/service_fixture.h"

#include <map>
#include <set>

namespace {

using DocsContract = ServiceFixture;

std::string contentType(const Response& response) {
    for (const auto& [key, value] : response.headers)
        if (key == "Content-Type")
            return value;
    return {};
}

// The document kind each endpoint answers with, by the endpoints table's last column.
std::string kindOf(const std::string& answer) {
    for (const char* kind : {"configuration", "session", "link status", "link"})
        if (answer.find(std::string("the ") + kind + " document") != std::string::npos ||
            answer.find(std::string("a ") + kind + " document") != std::string::npos)
            return kind;
    return {};
}

TEST_F(DocsContract, EveryEndpointAnswersWhatTheLauncherAccepts) {
    const auto endpoints = contractTable("endpoints");
    ASSERT_EQ(endpoints.size(), 6u);
    // A session with both accounts and the longest names, so every member is present and at its limit.
    std::string emoji;
    for (int i = 0; i < 100; ++i)
        emoji += "\xF0\x9F\x8E\xAE";
    const std::string linked = newSession();
    linkSteam(linked, "76561198000000001", emoji);
    linkDiscord(linked, "123456789012345678", std::string(200, 'd'));
    for (const TableRow& row : endpoints) {
        const std::string method = row[0], path = unmarked(row[1]), answer = row[3];
        SCOPED_TRACE(method + " " + path);
        const bool needsToken = row[2] == "yes";
        const std::string token = needsToken ? (path == "/session" ? linked : newSession()) : std::string();
        const Response response = call(method, path, token);
        const std::set<int> accepted = answer.rfind("200 or 201", 0) == 0 ? std::set<int>{200, 201}
                                       : answer.rfind("200", 0) == 0      ? std::set<int>{200}
                                                                          : std::set<int>{};
        if (!accepted.empty()) {
            EXPECT_TRUE(accepted.count(response.status)) << response.status;
        }
        EXPECT_EQ(contentType(response).rfind("application/json", 0), 0u);
        const std::string kind = kindOf(answer);
        if (!kind.empty()) {
            for (const std::string& problem : documentProblems(kind, response.body))
                ADD_FAILURE() << problem << "\n" << response.body;
        }
        if (answer.find("401 when the token is unknown") != std::string::npos) {
            EXPECT_EQ(call(method, path, std::string(43, 'x')).status, 401);
        }
        // The launcher never sends the other method.
        EXPECT_EQ(call(method == "GET" ? "POST" : "GET", path, token).status, 405);
    }
    EXPECT_EQ(json(call("GET", "/session", linked))["ready"], true);
}

TEST_F(DocsContract, TheFullestConfigurationTheLauncherReadsAndNoFuller) {
    ServiceConfig config = fixtureConfig();
    const std::size_t newsLimit = std::stoul(contractTable("document-limits")[3][1]);
    config.news.clear();
    for (std::size_t i = 0; i < newsLimit; ++i)
        config.news.push_back({static_cast<std::int64_t>(i + 1), std::string(1024, 't'),
                               std::string(4000, 'b'), "2026-10-08T17:00:00.000000000000000000Z"});
    config.serverAddress = std::string(183, 'h') + ".:27015";
    config.communityUrl = "https://example.org/" + std::string(489, 'c');
    start(config);
    const Response response = call("GET", "/config");
    for (const std::string& problem : documentProblems("configuration", response.body))
        ADD_FAILURE() << problem;
    EXPECT_GT(response.body.size(), 120000u);

    config.news[0].body.append(std::string(131072 - response.body.size() + 1, 'b'));
    Service refused;
    EXPECT_FALSE(prepareService(refused, config, *store, scriptedCalls(script)));
}

// Each failure the service answers to the launcher has a row of its own in the failure-texts table, so
// the player reads the text meant for it rather than the generic connection text.
TEST_F(DocsContract, FailureStatusesAreOnesTheLauncherExplains) {
    std::map<int, std::string> rows;
    for (const TableRow& row : contractTable("failure-texts"))
        rows[std::stoi(row[0])] = row[1];
    ASSERT_FALSE(rows.empty());
    const std::string token = newSession();
    linkSteam(token, "76561198000000001");
    std::vector<std::pair<std::string, int>> failures = {
        {"unknown token", call("GET", "/session", std::string(43, 'x')).status},
        {"already linked", call("POST", "/link/steam", token).status},
    };
    ServiceConfig config = fixtureConfig();
    config.sessionsPerMinute = 1;
    config.requireLinking = false;
    config.discordClientSecret.clear();
    start(config);
    failures.emplace_back("Discord not configured", call("POST", "/link/discord", newSession()).status);
    failures.emplace_back("rate limited", call("POST", "/sessions").status);
    for (const auto& [name, status] : failures) {
        ASSERT_TRUE(rows.count(status)) << name << " answered " << status;
        EXPECT_TRUE(rows[status] == "any" || name == "Discord not configured") << name;
    }
    EXPECT_NE(rows[503].find("/link/discord"), std::string::npos);
}

// docs/game-server.md against the service: each endpoint row asked with a key, each answer held to the
// members table, each failure row brought about, and each rule row's configuration giving that rule.
bool hasType(const nlohmann::json& value, const std::string& type) {
    if (type == "string")
        return value.is_string();
    if (type == "string or null")
        return value.is_string() || value.is_null();
    if (type == "boolean")
        return value.is_boolean();
    if (type == "integer")
        return value.is_number_integer();
    if (type == "array")
        return value.is_array();
    return false;
}

void expectMembers(const std::string& document, const nlohmann::json& value) {
    std::set<std::string> listed;
    for (const TableRow& row : gameServerTable("members")) {
        if (row[0] != document)
            continue;
        const std::string member = unmarked(row[1]);
        listed.insert(member);
        ASSERT_TRUE(value.contains(member)) << document << " lacks " << member << ": " << value.dump();
        EXPECT_TRUE(hasType(value[member], row[2])) << document << "." << member << " is not " << row[2];
    }
    ASSERT_FALSE(listed.empty()) << document;
    for (const auto& [member, each] : value.items())
        EXPECT_TRUE(listed.count(member) || (document == "player" && member == "cursor"))
            << document << " has an unlisted member " << member;
}

TEST_F(DocsContract, TheGameServersDocumentIsWhatTheServiceAnswers) {
    const std::string key = addGameServerKey(*store, "rp-1");
    const std::string token = newSession();
    linkSteam(token, "76561198000000001");
    const auto endpoints = gameServerTable("endpoints");
    ASSERT_EQ(endpoints.size(), 2u);
    for (const TableRow& row : endpoints) {
        std::string path = unmarked(row[1]);
        std::string query;
        if (const std::size_t mark = path.find('?'); mark != std::string::npos) {
            query = "since=0&limit=10";
            path = path.substr(0, mark);
        }
        if (const std::size_t brace = path.find('{'); brace != std::string::npos)
            path = path.substr(0, brace) + "76561198000000001";
        SCOPED_TRACE(path);
        const Response response = call(row[0], path, key, query);
        ASSERT_EQ(response.status, 200) << response.body;
        const nlohmann::json document = json(response);
        if (query.empty()) {
            expectMembers("player", document);
        } else {
            expectMembers("changes page", document);
            ASSERT_EQ(document["changes"].size(), 1u);
            expectMembers("player", document["changes"][0]);
            expectMembers("change", nlohmann::json{{"cursor", document["changes"][0]["cursor"]}});
        }
    }

    const std::map<std::string, std::pair<std::string, std::string>> causes = {
        {"steam_id", {"/gameserver/players/123", ""}},
        {"since", {"/gameserver/changes", "since=9007199254740992"}},
        {"limit", {"/gameserver/changes", "limit=5001"}},
        {"gameserver_key", {"/gameserver/changes", ""}},
    };
    for (const TableRow& row : gameServerTable("failures")) {
        const std::string code = unmarked(row[1]);
        if (!causes.count(code))
            continue; // 429 and 503 are brought about by the contract tests
        const auto& [path, query] = causes.at(code);
        const Response response = call("GET", path, code == "gameserver_key" ? "" : key, query);
        EXPECT_EQ(std::to_string(response.status), row[0]) << code;
        EXPECT_EQ(json(response)["error"], code);
    }

    for (const TableRow& row : gameServerTable("rule")) {
        ServiceConfig config = fixtureConfig();
        config.requireLinking = row[1].find("require_linking = true") != std::string::npos;
        if (row[1].find("Discord off") != std::string::npos)
            config.discordClientSecret.clear();
        start(config);
        EXPECT_EQ(json(call("GET", "/gameserver/changes", key))["rule"], unmarked(row[0])) << row[1];
    }
}

} // namespace
