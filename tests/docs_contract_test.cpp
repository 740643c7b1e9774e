// The admins' documents against the launcher: every table marked "contract" in docs/ is read here and
// each of its rows is tried on the program's own readers and rules, so a document cannot promise
// what the program does not do.
#include "actions/steam_url.h"
#include "config/launcher_config.h"
#include "link/https_transport.h"
#include "link/link_service.h"
#include "link/service_documents.h"
#include "link/shell_url.h"
#include "link/url_policy.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

using Row = std::vector<std::string>;

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    const size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Backticks and double quotes only mark names and texts in the documents.
std::string unmark(std::string cell) {
    if (cell.size() >= 2 && (cell.front() == '`' || cell.front() == '"') && cell.back() == cell.front())
        cell = cell.substr(1, cell.size() - 2);
    return cell;
}

// The rows (header and separator left out) of the table right after "<!-- contract: NAME -->".
std::vector<Row> contractTable(const char* document, const char* name) {
    const std::wstring folder = testsupport::unixPathFromEnv("ORVANE_DOCS");
    const std::string text = testsupport::readBytes(folder + L"\\" + testsupport::widen(document));
    const std::string marker = std::string("<!-- contract: ") + name + " -->";
    std::vector<Row> rows;
    size_t at = text.find(marker);
    if (at == std::string::npos)
        return rows;
    at = text.find('\n', at) + 1;
    int line = 0;
    while (at < text.size() && text[at] == '|') {
        const size_t end = text.find('\n', at);
        const std::string source = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line++ < 2)
            continue;
        Row row;
        size_t start = 1;
        for (size_t bar = source.find('|', start); bar != std::string::npos; bar = source.find('|', start)) {
            row.push_back(trim(source.substr(start, bar - start)));
            start = bar + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

std::wstring wide(const std::string& utf8) {
    return utf8ToWide(utf8);
}

// "a–b …" gives a and b.
bool range(const std::string& cell, size_t& low, size_t& high) {
    const std::string dash = "\xE2\x80\x93";
    const size_t at = cell.find(dash);
    if (at == std::string::npos)
        return false;
    low = std::stoul(cell.substr(0, at));
    high = std::stoul(cell.substr(at + dash.size()));
    return true;
}

// {"pad":"aaa…"} of exactly size bytes.
std::string paddedObject(size_t size) {
    std::string text = "{\"pad\":\"";
    text.append(size - 10, 'a');
    text += "\"}";
    return text;
}

// {"a":[[…[0]…]]} with the given number of arrays.
std::string nestedInMember(size_t arrays) {
    std::string text = "{\"a\":";
    text.append(arrays, '[');
    text += '0';
    text.append(arrays, ']');
    text += '}';
    return text;
}

json sampleNewsItem() {
    return json{{"id", 1}, {"title", "Noticia"}, {"body", "Texto"}, {"published_at", "2026-10-08T17:00:00Z"}};
}

json sampleConfig() {
    return json{{"server_address", "203.0.113.7:27015"},
                {"community_url", "https://example.org/comunidad"},
                {"require_linking", true},
                {"discord_enabled", true},
                {"news", json::array({sampleNewsItem()})}};
}

json sampleAccount() {
    return json{{"id", "76561198000000001"}, {"display_name", "Jugador"}};
}

json sampleStatus() {
    return json{{"steam", sampleAccount()},
                {"discord", nullptr},
                {"expires_at", "2026-10-09T17:00:00Z"},
                {"ready", false}};
}

// A valid value of exactly n bytes (n UTF-16 units for names) for the member, or null when none exists.
json valueOfLength(const std::string& member, size_t n) {
    if (member == "server_address")
        return n == 0 ? json("") : n < 3 ? json() : json(std::string(n - 2, 'a') + ":1");
    if (member == "community_url")
        return n == 0 ? json("") : n < 9 ? json() : json("https://" + std::string(n - 8, 'a'));
    if (member == "published_at" || member == "expires_at")
        return n == 20  ? json("2026-10-08T17:00:00Z")
               : n < 22 ? json()
                        : json("2026-10-08T17:00:00." + std::string(n - 21, '0') + "Z");
    if (member == "token")
        return json(std::string(n, 'T'));
    if (member == "id")
        return json(std::string(n, '7'));
    return json(std::string(n, 'x'));
}

void place(json& object, const std::string& member, const std::optional<json>& value) {
    if (value)
        object[member] = *value;
    else
        object.erase(member);
}

// Whether a valid document with member set to value (left out when there is none) is accepted by
// the launcher's reader for it.
bool accepted(const std::string& document, const std::string& member, const std::optional<json>& value) {
    LinkState state;
    state.configLoaded = true;
    auto readConfig = [&](json doc) { return parseConfig(parseServiceDocument(doc.dump()), state); };
    if (document == "configuration") {
        json doc = sampleConfig();
        place(doc, member, value);
        return readConfig(doc);
    }
    if (document == "news item") {
        json doc = sampleConfig();
        place(doc["news"][0], member, value);
        return readConfig(doc);
    }
    if (document == "session") {
        json doc = {{"token", std::string(43, 'T')}, {"expires_at", "2026-10-09T17:00:00Z"}};
        place(doc, member, value);
        ServiceJson parsed = parseServiceDocument(doc.dump());
        SessionToken token;
        return parseSession(parsed, token);
    }
    if (document == "link status" || document == "account") {
        json doc = sampleStatus();
        place(document == "account" ? doc["steam"] : doc, member, value);
        return parseLinkStatus(parseServiceDocument(doc.dump()), state);
    }
    if (document == "link") {
        json doc = {{"url", "https://discord.com/oauth2/authorize?state=x"}};
        place(doc, member, value);
        std::string url;
        return parseLinkUrl(parseServiceDocument(doc.dump()), url);
    }
    ADD_FAILURE() << "no reader for the document \"" << document << "\"";
    return false;
}

json sampleOf(const std::string& document) {
    if (document == "configuration")
        return sampleConfig();
    if (document == "news item")
        return sampleNewsItem();
    if (document == "session")
        return json{{"token", ""}, {"expires_at", ""}};
    if (document == "link status")
        return sampleStatus();
    if (document == "account")
        return sampleAccount();
    return json{{"url", ""}};
}

} // namespace

TEST(AdminDocuments, EveryEndpointAndNoOther) {
    const auto rows = contractTable("link-service.md", "endpoints");
    ASSERT_EQ(rows.size(), 6u);
    for (const Row& row : rows) {
        const std::wstring method = wide(row[0]), path = wide(unmark(row[1]));
        EXPECT_TRUE(isAllowedEndpoint(method.c_str(), path.c_str())) << row[0] << " " << row[1];
        const std::wstring other = method == L"GET" ? L"POST" : L"GET";
        EXPECT_FALSE(isAllowedEndpoint(other.c_str(), path.c_str())) << row[1];
        EXPECT_FALSE(isAllowedEndpoint(method.c_str(), (path + L"?x=1").c_str())) << row[1];
    }
}

TEST(AdminDocuments, DocumentLimitsAreTheReadersLimits) {
    const auto rows = contractTable("link-service.md", "document-limits");
    ASSERT_EQ(rows.size(), 4u);
    for (const Row& row : rows) {
        const size_t n = std::stoul(row[1]);
        const std::string& limit = row[0];
        std::string within, beyond;
        if (limit == "body size") {
            within = paddedObject(n);
            beyond = paddedObject(n + 1);
        } else if (limit == "nesting depth") {
            within = nestedInMember(n - 1);
            beyond = nestedInMember(n);
        } else if (limit == "members of the top-level object") {
            json doc = json::object();
            for (size_t i = 0; i < n; ++i)
                doc[std::to_string(i)] = i;
            within = doc.dump();
            doc["one more"] = 0;
            beyond = doc.dump();
        } else if (limit == "news items") {
            json doc = sampleConfig();
            doc["news"] = json::array();
            for (size_t i = 0; i < n; ++i)
                doc["news"].push_back(sampleNewsItem());
            LinkState state;
            EXPECT_TRUE(parseConfig(parseServiceDocument(doc.dump()), state)) << limit;
            doc["news"].push_back(sampleNewsItem());
            EXPECT_FALSE(parseConfig(parseServiceDocument(doc.dump()), state)) << limit;
            continue;
        } else {
            ADD_FAILURE() << "unknown limit " << limit;
            continue;
        }
        EXPECT_TRUE(parseServiceDocument(within).is_object()) << limit;
        EXPECT_TRUE(parseServiceDocument(beyond).is_null()) << limit;
    }
}

TEST(AdminDocuments, EveryMemberWithItsTypeAndLength) {
    const auto rows = contractTable("link-service.md", "members");
    ASSERT_GE(rows.size(), 18u);
    std::map<std::string, std::vector<std::string>> listed;
    for (const Row& row : rows) {
        const std::string document = row[0], member = unmark(row[1]), type = row[2];
        listed[document].push_back(member);
        SCOPED_TRACE(document + " " + member);
        size_t low = 0, high = 0;
        if (type == "string") {
            ASSERT_TRUE(range(row[3], low, high)) << row[3];
            EXPECT_TRUE(accepted(document, member, valueOfLength(member, high)));
            EXPECT_FALSE(accepted(document, member, valueOfLength(member, high + 1)));
            if (!valueOfLength(member, low).is_null()) {
                EXPECT_TRUE(accepted(document, member, valueOfLength(member, low)));
            }
            if (low > 0 && !valueOfLength(member, low - 1).is_null()) {
                EXPECT_FALSE(accepted(document, member, valueOfLength(member, low - 1)));
            }
            EXPECT_FALSE(accepted(document, member, json(5)));
        } else if (type == "boolean") {
            EXPECT_TRUE(accepted(document, member, json(true)));
            EXPECT_FALSE(accepted(document, member, json("true")));
        } else if (type == "integer") {
            EXPECT_TRUE(accepted(document, member, json(1)));
            EXPECT_FALSE(accepted(document, member, json(0)));
            EXPECT_FALSE(accepted(document, member, json(1.5)));
        } else if (type == "null or account") {
            EXPECT_TRUE(accepted(document, member, json(nullptr)));
            EXPECT_TRUE(accepted(document, member, sampleAccount()));
            EXPECT_FALSE(accepted(document, member, json("none")));
        } else if (type == "array") {
            EXPECT_FALSE(accepted(document, member, json::object()));
        } else {
            ADD_FAILURE() << "unknown type " << type;
        }
        // Every member is required, even one that may be empty.
        EXPECT_FALSE(accepted(document, member, std::nullopt));
    }
    // The table names every member of each document the launcher reads.
    for (const auto& [document, members] : listed) {
        const json sampleDocument = sampleOf(document);
        std::vector<std::string> sample;
        for (const auto& item : sampleDocument.items())
            sample.push_back(item.key());
        std::vector<std::string> sorted = members;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, sample) << document;
    }
    // UTF-16 units, not bytes, bound a display name: 100 four-byte characters fit, 101 do not.
    std::string emoji;
    for (int i = 0; i < 100; ++i)
        emoji += "\xF0\x9F\x8E\xAE";
    EXPECT_TRUE(accepted("account", "display_name", json(emoji)));
    EXPECT_FALSE(accepted("account", "display_name", json(emoji + "\xF0\x9F\x8E\xAE")));
}

TEST(AdminDocuments, AuthorisationPagesByTheirLiteralShape) {
    const auto rows = contractTable("link-service.md", "authorisation-rules");
    ASSERT_EQ(rows.size(), 2u);
    for (const Row& row : rows) {
        const bool steam = row[0].rfind("Steam", 0) == 0;
        // "`https://host` then optionally `:443` then `/path`"
        std::vector<std::string> quoted;
        for (size_t at = row[1].find('`'); at != std::string::npos; at = row[1].find('`', at + 1)) {
            const size_t end = row[1].find('`', at + 1);
            quoted.push_back(row[1].substr(at + 1, end - at - 1));
            at = end;
        }
        ASSERT_EQ(quoted.size(), 3u) << row[1];
        const std::string origin = quoted[0], port = quoted[1], path = quoted[2];
        struct Case {
            std::string url;
            bool allowed;
        };
        const Case cases[] = {
            {origin + path + "?state=one-time", true},
            {origin + port + path + "?state=one-time", true},
            {origin + path, false},
            {origin + path + "?", false},
            {origin + path + "/?state=x", false},
            {origin + ":8443" + path + "?state=x", false},
            {origin + path + "?state=x#top", false},
            {"https://@" + origin.substr(8) + port + "@evil.example" + path + "?state=x", false},
            {"http://" + origin.substr(8) + path + "?state=x", false},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(isAllowedAuthorizationUrl(wide(c.url).c_str(), steam), c.allowed) << c.url;
            EXPECT_FALSE(isAllowedAuthorizationUrl(wide(c.url).c_str(), !steam)) << c.url;
        }
    }
}

TEST(AdminDocuments, ShellLimitsAreTheWindowsLimits) {
    const auto rows = contractTable("link-service.md", "shell-limits");
    ASSERT_EQ(rows.size(), 3u);
    for (const Row& row : rows) {
        const size_t n = std::stoul(row[1]);
        SCOPED_TRACE(row[0]);
        // Whether a value of exactly `length` characters gets through to the shell.
        std::function<bool(size_t)> passes;
        if (row[0].find("authorisation page") != std::string::npos) {
            passes = [](size_t length) {
                const std::wstring start = L"https://steamcommunity.com/openid/login?openid.mode=";
                return isAllowedAuthorizationUrl((start + std::wstring(length - start.size(), L'c')).c_str(),
                                                 true);
            };
        } else if (row[0].find("community_url") != std::string::npos) {
            passes = [](size_t length) {
                return accepted("configuration", "community_url", valueOfLength("community_url", length));
            };
        } else if (row[0].find("server_address") != std::string::npos) {
            passes = [](size_t length) {
                const std::wstring address = std::wstring(length - 6, L'a') + L":27015";
                return validateServerAddress(address.c_str());
            };
        } else {
            ADD_FAILURE() << "unknown row";
            continue;
        }
        EXPECT_TRUE(passes(n));
        EXPECT_FALSE(passes(n + 1));
    }
}

TEST(AdminDocuments, StatusTextsAreThePlayersTexts) {
    const auto rows = contractTable("link-service.md", "failure-texts");
    ASSERT_EQ(rows.size(), 9u);
    for (const Row& row : rows) {
        HttpResult result;
        result.status = static_cast<uint32_t>(std::stoul(row[0]));
        if (row[1].find("12175") != std::string::npos)
            result.error = 12175;
        const bool discord = row[1].find("/link/discord") != std::string::npos;
        EXPECT_EQ(messageForFailure(result, discord), wide(unmark(row[2]))) << row[0] << " " << row[1];
    }
}

TEST(AdminDocuments, ConfigurationKeysAndTheOneTheWindowReads) {
    const auto rows = contractTable("configuration.md", "ini-keys");
    ASSERT_EQ(rows.size(), 5u);
    testsupport::TempFolder folder;
    const std::wstring path = folder.path + L"\\OrvaneGaming.ini";
    std::string longValues = "[launcher]\r\n", shortValues = "[launcher]\r\n";
    for (const Row& row : rows) {
        longValues += unmark(row[0]) + "=" + std::string(std::stoul(row[1]) + 40, 'a') + "\r\n";
        shortValues += unmark(row[0]) + "=scene.jpg\r\n";
    }
    ASSERT_TRUE(testsupport::writeBytes(path, longValues));
    LauncherConfig config{};
    const std::map<std::string, const wchar_t*> fields = {{"server", config.server},
                                                          {"community", config.community},
                                                          {"news_title", config.news_title},
                                                          {"news_body", config.news_body},
                                                          {"background", config.background}};
    readLauncherConfig(path.c_str(), config);
    for (const Row& row : rows)
        EXPECT_EQ(std::wcslen(fields.at(unmark(row[0]))), std::stoul(row[1])) << row[0];

    ASSERT_TRUE(testsupport::writeBytes(path, shortValues));
    readStartupConfig(path.c_str(), config);
    for (const Row& row : rows)
        EXPECT_EQ(std::wcslen(fields.at(unmark(row[0]))) > 0, row[2] == "yes") << row[0];
}
