#include "link/service_documents.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <string>

using nlohmann::json;

namespace {

json validConfig() {
    return json{
        {"server_address", "203.0.113.7:27015"},
        {"community_url", "https://orvanegaming.com:8443/foro/inicio#noticias"},
        {"require_linking", true},
        {"discord_enabled", true},
        {"news", json::array({json{{"id", 1},
                                   {"title", "Comunidad"},
                                   {"body", "Texto\nsegunda l\xC3\xADnea"},
                                   {"published_at", "2026-10-08T17:00:00Z"}}})},
    };
}

json newsItem(json id) {
    return json{
        {"id", std::move(id)}, {"title", "Noticia"}, {"body", ""}, {"published_at", "2026-10-08T17:00:00Z"}};
}

json steamAccount() {
    return json{{"id", "76561198000000001"}, {"display_name", "Jugador"}};
}

json discordAccount() {
    return json{{"id", "123456789012345678"}, {"display_name", "jugador.orvane"}};
}

json linkStatus(json steam, json discord, json ready = true) {
    return json{{"steam", std::move(steam)},
                {"discord", std::move(discord)},
                {"ready", std::move(ready)},
                {"expires_at", "2026-10-09T17:00:00Z"}};
}

// The way an answer reaches the readers: as text, through parseServiceDocument.
bool configFromText(const std::string& text, LinkState& state) {
    const ServiceJson document = parseServiceDocument(text);
    return document.is_object() && parseConfig(document, state);
}

bool statusFromText(const std::string& text, LinkState& state) {
    const ServiceJson document = parseServiceDocument(text);
    return document.is_object() && parseLinkStatus(document, state);
}

std::string nestedArrays(int depth) {
    return std::string(static_cast<size_t>(depth), '[') + "0" + std::string(static_cast<size_t>(depth), ']');
}

std::string objectOfMembers(int members) {
    std::string text = "{";
    for (int i = 0; i < members; ++i)
        text += (i ? ",\"m" : "\"m") + std::to_string(i) + "\":" + std::to_string(i);
    return text + "}";
}

// {"pad":"aaa..."} of exactly `size` bytes.
std::string paddedObject(size_t size) {
    return "{\"pad\":\"" + std::string(size - 10, 'a') + "\"}";
}

} // namespace

TEST(ServiceDocument, ObjectsWithinTheLimitsOnly) {
    struct Case {
        const char* what;
        std::string body;
        bool accepted;
    };
    const Case cases[] = {
        {"empty object", "{}", true},
        {"131,072 bytes", paddedObject(131072), true},
        {"131,073 bytes", paddedObject(131073), false},
        {"empty body", "", false},
        {"broken", "{broken", false},
        {"array at the top", "[]", false},
        {"number at the top", "0", false},
        {"string at the top", "\"x\"", false},
        {"array nested 40 deep around a 0", nestedArrays(40), false},
        {"object with 15 nested arrays around a 0", "{\"a\":" + nestedArrays(15) + "}", true},
        {"object with 16 nested arrays around a 0", "{\"a\":" + nestedArrays(16) + "}", false},
        {"object nested 40 deep inside a member",
         "{\"a\":" + std::string(40, '[') + std::string(40, ']') + "}", false},
        {"64 members", objectOfMembers(64), true},
        {"65 members", objectOfMembers(65), false},
        {"comment", "{/* hola */}", false},
        {"trailing text", "{} x", false},
        {"two documents", "{}{}", false},
        {"NUL after the object", std::string("{\"a\":1}\0", 8), false},
        {"NUL before trailing text", std::string("{}\0garbage", 10), false},
        {"invalid UTF-8 in a string", "{\"a\":\"\xC3\x28\"}", false},
        {"number overflow", "{\"a\":1e999}", false},
    };
    for (const Case& c : cases) {
        const ServiceJson document = parseServiceDocument(c.body);
        EXPECT_EQ(document.is_object(), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_TRUE(document.is_null()) << c.what;
        }
    }
}

TEST(ServiceDocument, DuplicateMembersKeepTheLastValue) {
    const ServiceJson document = parseServiceDocument("{\"a\":1,\"a\":2}");
    ASSERT_TRUE(document.is_object());
    EXPECT_EQ(document.size(), 1u);
    EXPECT_EQ(document["a"], 2);
}

TEST(ConfigDocument, AcceptedDocumentsFillTheState) {
    LinkState state;
    ASSERT_TRUE(configFromText(validConfig().dump(), state));
    EXPECT_TRUE(state.configLoaded);
    EXPECT_TRUE(state.requireLinking);
    EXPECT_TRUE(state.discordEnabled);
    EXPECT_EQ(state.serverAddress, L"203.0.113.7:27015");
    EXPECT_EQ(state.communityUrl, L"https://orvanegaming.com:8443/foro/inicio#noticias");
    EXPECT_EQ(state.newsTitle, L"Comunidad");
    EXPECT_EQ(state.newsBody, L"Texto\nsegunda l\u00EDnea");

    json wide = validConfig();
    wide["news"][0]["title"] = fourByteText(158);
    wide["news"][0]["body"] = fourByteText(1190);
    LinkState wideState;
    ASSERT_TRUE(configFromText(wide.dump(), wideState));
    EXPECT_EQ(wideState.newsTitle.size(), 316u);
    EXPECT_EQ(wideState.newsBody.size(), 2380u);
    EXPECT_EQ(wideState.newsTitle.substr(0, 2), L"\xD83D\xDE00");

    json later = validConfig();
    later["server_address"] = "";
    later["community_url"] = "";
    later["require_linking"] = false;
    later["discord_enabled"] = false;
    later["news"] = json::array();
    LinkState emptyState = sentinelLinkState();
    ASSERT_TRUE(configFromText(later.dump(), emptyState));
    EXPECT_TRUE(emptyState.configLoaded);
    EXPECT_FALSE(emptyState.requireLinking);
    EXPECT_FALSE(emptyState.discordEnabled);
    EXPECT_EQ(emptyState.serverAddress, L"");
    EXPECT_EQ(emptyState.communityUrl, L"");
    EXPECT_EQ(emptyState.newsTitle, L"");
    EXPECT_EQ(emptyState.newsBody, L"");
    EXPECT_EQ(emptyState.steamName, L"sentinel steam");
}

TEST(ConfigDocument, OnlyTheFirstNewsItemIsShownButAllAreChecked) {
    json document = validConfig();
    for (int id = 2; id <= 25; ++id)
        document["news"].push_back(newsItem(id));
    LinkState state;
    ASSERT_TRUE(configFromText(document.dump(), state));
    EXPECT_EQ(state.newsTitle, L"Comunidad");

    document["news"].push_back(newsItem(26));
    LinkState refused = sentinelLinkState();
    EXPECT_FALSE(configFromText(document.dump(), refused));
    EXPECT_TRUE(sameLinkState(refused, sentinelLinkState()));
}

TEST(ConfigDocument, RefusedDocumentsLeaveTheStateUntouched) {
    struct Case {
        const char* what;
        json document;
    };
    auto with = [](const char* key, json value) {
        json document = validConfig();
        document[key] = std::move(value);
        return document;
    };
    auto withItem = [](const char* key, json value) {
        json document = validConfig();
        document["news"][0][key] = std::move(value);
        return document;
    };
    auto without = [](const char* key) {
        json document = validConfig();
        document.erase(key);
        return document;
    };
    json laterBad = validConfig();
    laterBad["news"].push_back(newsItem(0));
    const Case cases[] = {
        {"require_linking as a string", with("require_linking", "true")},
        {"discord_enabled as a number", with("discord_enabled", 1)},
        {"no require_linking", without("require_linking")},
        {"no discord_enabled", without("discord_enabled")},
        {"no news", without("news")},
        {"news as an object", with("news", json::object())},
        {"news item not an object", with("news", json::array({"Comunidad"}))},
        {"server address with an appended command", with("server_address", "203.0.113.7:27015 +exec evil")},
        {"server address without a port", with("server_address", "203.0.113.7")},
        {"server address of 256 bytes", with("server_address", std::string(250, 'a') + ":27015")},
        {"server address as a number", with("server_address", 27015)},
        {"no server address", without("server_address")},
        {"community URL over http", with("community_url", "http://orvanegaming.com/")},
        {"community URL with a script", with("community_url", "javascript:alert(1)")},
        {"community URL with user information", with("community_url", "https://a:b@orvanegaming.com/")},
        // The window opens at most 509 characters, and only a text the shell takes verbatim.
        {"community URL of 510 bytes", with("community_url", "https://o.com/" + std::string(510 - 14, 'a'))},
        {"community URL of 2,048 bytes",
         with("community_url", "https://o.com/" + std::string(2048 - 14, 'a'))},
        {"community URL with a double quote", with("community_url", "https://o.com/a\"%20--new-window")},
        {"community URL with a caret", with("community_url", "https://o.com/a^b")},
        {"community URL with a stray percent", with("community_url", "https://o.com/100%")},
        {"community URL with U+202E", with("community_url", "https://o.com/a\u202Eb")},
        {"community URL starting with a slash", with("community_url", "https:///o.com/")},
        {"id 0", withItem("id", 0)},
        {"negative id", withItem("id", -3)},
        {"fractional id", withItem("id", 1.5)},
        {"id written as 1.0", withItem("id", 1.0)},
        {"id as a string", withItem("id", "1")},
        {"id beyond 64 bits", json::parse(R"({"server_address":"","community_url":"","require_linking":true,
            "discord_enabled":true,"news":[{"id":18446744073709551616,"title":"t","body":"",
            "published_at":"2026-10-08T17:00:00Z"}]})")},
        {"title of 1,025 bytes", withItem("title", std::string(1025, 't'))},
        {"empty title", withItem("title", "")},
        {"title with a line feed", withItem("title", "uno\ndos")},
        {"body of 16,001 bytes", withItem("body", std::string(16001, 'b'))},
        {"body with a control byte", withItem("body", "a\x01z")},
        {"body with DEL", withItem("body", "a\x7Fz")},
        {"body with a NUL", withItem("body", std::string("a\0z", 3))},
        {"published_at in another shape", withItem("published_at", "08/10/2026 17:00")},
        {"no published_at",
         [] {
             json document = validConfig();
             document["news"][0].erase("published_at");
             return document;
         }()},
        {"a later item with id 0", laterBad},
    };
    for (const Case& c : cases) {
        LinkState state = sentinelLinkState();
        EXPECT_FALSE(configFromText(c.document.dump(), state)) << c.what;
        EXPECT_TRUE(sameLinkState(state, sentinelLinkState())) << c.what;
    }
}

TEST(ConfigDocument, LimitsAreInclusive) {
    struct Case {
        const char* what;
        const char* key;
        json value;
    };
    const Case cases[] = {
        {"title of 1,024 bytes", "title", std::string(1024, 't')},
        {"body of 16,000 bytes", "body", std::string(16000, 'b')},
        {"body with TAB, CR and LF", "body", "a\tb\r\nc"},
        {"largest unsigned id", "id", 18446744073709551615ull},
        {"published_at with an offset", "published_at", "2026-10-08T19:00:00+02:00"},
    };
    for (const Case& c : cases) {
        json document = validConfig();
        document["news"][0][c.key] = c.value;
        LinkState state;
        EXPECT_TRUE(configFromText(document.dump(), state)) << c.what;
    }
    json document = validConfig();
    document["server_address"] = std::string(249, 'a') + ":27015";
    document["community_url"] = "https://o.com/" + std::string(509 - 14, 'a');
    LinkState state;
    EXPECT_TRUE(configFromText(document.dump(), state));
    EXPECT_EQ(state.communityUrl.size(), 509u);
}

TEST(LinkStatusDocument, ReadinessFollowsLinksAndConfiguration) {
    struct Case {
        const char* what;
        json document;
        bool configLoaded;
        bool requireLinking;
        bool discordEnabled;
        bool steam;
        bool discord;
        bool ready;
    };
    const Case cases[] = {
        {"both linked", linkStatus(steamAccount(), discordAccount()), true, true, true, true, true, true},
        {"none linked while required", linkStatus(nullptr, nullptr), true, true, true, false, false, false},
        {"none linked, not required", linkStatus(nullptr, nullptr), true, false, true, false, false, true},
        {"Steam only while required", linkStatus(steamAccount(), nullptr), true, true, true, true, false,
         false},
        {"Steam only while required, Discord off", linkStatus(steamAccount(), nullptr), true, true, false,
         true, false, true},
        {"none linked while required, Discord off", linkStatus(nullptr, nullptr), true, true, false, false,
         false, false},
        {"Steam only, Discord off, service says not ready", linkStatus(steamAccount(), nullptr, false), true,
         true, false, true, false, false},
        {"both linked, configuration not loaded", linkStatus(steamAccount(), discordAccount()), false, true,
         true, true, true, false},
        {"both linked, service says not ready", linkStatus(steamAccount(), discordAccount(), false), true,
         true, true, true, true, false},
    };
    for (const Case& c : cases) {
        LinkState state = sentinelLinkState();
        state.configLoaded = c.configLoaded;
        state.requireLinking = c.requireLinking;
        state.discordEnabled = c.discordEnabled;
        ASSERT_TRUE(statusFromText(c.document.dump(), state)) << c.what;
        EXPECT_EQ(state.steamLinked, c.steam) << c.what;
        EXPECT_EQ(state.discordLinked, c.discord) << c.what;
        EXPECT_EQ(state.ready, c.ready) << c.what;
        EXPECT_EQ(state.steamName, c.steam ? L"Jugador" : L"") << c.what;
        EXPECT_EQ(state.discordName, c.discord ? L"jugador.orvane" : L"") << c.what;
        EXPECT_EQ(state.newsTitle, L"sentinel title") << c.what;
    }
    LinkState exact;
    exact.configLoaded = true;
    ASSERT_TRUE(statusFromText(
        R"({"steam":null,"discord":null,"ready":true,"expires_at":"2026-10-09T17:00:00Z"})", exact));
    EXPECT_FALSE(exact.steamLinked);
    EXPECT_FALSE(exact.discordLinked);
    EXPECT_FALSE(exact.ready);
}

TEST(LinkStatusDocument, RefusedDocumentsLeaveTheStateUntouched) {
    auto withSteam = [](json account) { return linkStatus(std::move(account), nullptr); };
    auto account = [](json id, json name) {
        return json{{"id", std::move(id)}, {"display_name", std::move(name)}};
    };
    json noSteam = linkStatus(nullptr, nullptr);
    noSteam.erase("steam");
    json noExpiry = linkStatus(nullptr, nullptr);
    noExpiry.erase("expires_at");
    json badExpiry = linkStatus(nullptr, nullptr);
    badExpiry["expires_at"] = "2026-10-09 17:00:00Z";
    struct Case {
        const char* what;
        json document;
    };
    const Case cases[] = {
        {"ready as a string", linkStatus(nullptr, nullptr, "true")},
        {"no steam member", noSteam},
        {"no expires_at", noExpiry},
        {"expires_at with a space", badExpiry},
        {"account as a string", withSteam("76561198000000001")},
        {"account as an array", withSteam(json::array())},
        {"account as false", withSteam(false)},
        {"id of 15 digits", withSteam(account("765611980000000", "Jugador"))},
        {"id of 25 digits", withSteam(account(std::string(25, '7'), "Jugador"))},
        {"id with a letter", withSteam(account("7656119800000000a", "Jugador"))},
        {"id with a sign", withSteam(account("+7656119800000000", "Jugador"))},
        {"id as a number", withSteam(account(76561198000000001ull, "Jugador"))},
        {"empty display name", withSteam(account("76561198000000001", ""))},
        {"display name of 101 four-byte characters",
         withSteam(account("76561198000000001", fourByteText(101)))},
        {"display name of 513 bytes", withSteam(account("76561198000000001", std::string(513, 'n')))},
        {"display name with DEL", withSteam(account("76561198000000001", "Juga\x7F"
                                                                         "dor"))},
        {"display name with a line feed", withSteam(account("76561198000000001", "Juga\ndor"))},
        {"no display name", withSteam(json{{"id", "76561198000000001"}})},
    };
    for (const Case& c : cases) {
        LinkState state = sentinelLinkState();
        EXPECT_FALSE(statusFromText(c.document.dump(), state)) << c.what;
        EXPECT_TRUE(sameLinkState(state, sentinelLinkState())) << c.what;
    }
}

TEST(AccountObject, IdsAndNamesAtTheirLimits) {
    struct Case {
        const char* what;
        std::string id;
        std::string name;
        size_t nameUnits;
    };
    const Case cases[] = {
        {"16 digits", std::string(16, '1'), "a", 1},
        {"24 digits", std::string(24, '9'), "a", 1},
        {"17-digit Steam id", "76561198000000001", "Jugador", 7},
        {"100 four-byte characters", "76561198000000001", fourByteText(100), 200},
        {"200 ASCII characters", "76561198000000001", std::string(200, 'n'), 200},
    };
    for (const Case& c : cases) {
        bool linked = false;
        std::wstring name;
        ASSERT_TRUE(parseAccount(json{{"id", c.id}, {"display_name", c.name}}, linked, name)) << c.what;
        EXPECT_TRUE(linked) << c.what;
        EXPECT_EQ(name.size(), c.nameUnits) << c.what;
    }
    bool linked = true;
    std::wstring name = L"before";
    EXPECT_FALSE(parseAccount(json{{"id", "76561198000000001"}, {"display_name", std::string(201, 'n')}},
                              linked, name));
    EXPECT_TRUE(linked);
    EXPECT_EQ(name, L"before");
    ASSERT_TRUE(parseAccount(nullptr, linked, name));
    EXPECT_FALSE(linked);
    EXPECT_EQ(name, L"");
}

TEST(StringMembers, RulesSharedByEveryMember) {
    // Built directly, so the string checks are seen without the parser's own UTF-8 refusal in front.
    struct Case {
        const char* what;
        std::string value;
        size_t maxBytes;
        bool allowEmpty;
        bool allowControls;
        bool accepted;
    };
    const Case cases[] = {
        {"plain", "hola", 4, false, false, true},
        {"one byte over", "hola", 3, false, false, false},
        {"empty refused", "", 10, false, false, false},
        {"empty allowed", "", 10, true, false, true},
        {"TAB LF CR where allowed", "a\tb\nc\rd", 10, false, true, true},
        {"TAB where not allowed", "a\tb", 10, false, false, false},
        {"other control byte", "a\x1F", 10, false, true, false},
        {"NUL", std::string("a\0b", 3), 10, false, true, false},
        {"DEL", "a\x7F", 10, false, true, false},
        {"four-byte character", "\xF0\x9F\x98\x80", 4, false, false, true},
        {"lone continuation byte", "a\x80", 10, false, false, false},
        {"truncated four-byte character", "\xF0\x9F\x98", 10, false, false, false},
        {"overlong NUL", "\xC0\x80", 10, false, false, false},
        {"encoded surrogate", "\xED\xA0\x80", 10, false, false, false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 10, false, false, false},
        {"byte FF", "\xFF", 10, false, false, false},
    };
    for (const Case& c : cases) {
        json object = json::object();
        object["k"] = c.value;
        std::string out = "untouched";
        const bool accepted = getStringField(object, "k", out, c.maxBytes, c.allowEmpty, c.allowControls);
        EXPECT_EQ(accepted, c.accepted) << c.what;
        EXPECT_EQ(out, accepted ? c.value : "untouched") << c.what;
    }
    std::string out;
    EXPECT_FALSE(getStringField(json{{"k", 1}}, "k", out, 10, true, true));
    EXPECT_FALSE(getStringField(json{{"k", nullptr}}, "k", out, 10, true, true));
    EXPECT_FALSE(getStringField(json::object(), "k", out, 10, true, true));
    EXPECT_FALSE(getStringField(json::array({"k"}), "k", out, 10, true, true));

    bool flag = false;
    EXPECT_TRUE(getBoolField(json{{"b", true}}, "b", flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(getBoolField(json{{"b", "true"}}, "b", flag));
    EXPECT_FALSE(getBoolField(json{{"b", 1}}, "b", flag));
    EXPECT_FALSE(getBoolField(json::object(), "b", flag));
    EXPECT_TRUE(flag);
}

TEST(Utf8ToWide, StrictConversion) {
    struct Case {
        const char* what;
        std::string text;
        std::wstring wide;
    };
    const Case cases[] = {
        {"empty", "", L""},
        {"ASCII", "abc", L"abc"},
        {"two-byte", "l\xC3\xADnea", L"l\u00EDnea"},
        {"four-byte gives a surrogate pair", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
        {"highest code point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", L""},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", L""},
        {"overlong two-byte", "\xC1\xBF", L""},
        {"encoded surrogate", "\xED\xA0\x80", L""},
        {"truncated four-byte", "a\xF0\x9F\x98", L""},
        {"stray continuation", "\xF0\x9F\x98\x80\x80", L""},
        {"F5 lead byte", "\xF5\x80\x80\x80", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(utf8ToWide(c.text), c.wide) << c.what;
}

TEST(Timestamps, ShapeOnly) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"2026-10-08T17:00:00Z", true},
        {"2026-10-08T19:00:00+02:00", true},
        {"2026-10-08T17:00:00.123456Z", true},
        {"2026-10-08T17:00:00z", false},
        {"2026-10-08 17:00:00Z", false},
        {"2026-10-08T15:00:00-02:00", false},
        {"2026-10-08T17:00:00", false},
        {"2026-10-08T17:00:0Z", false},
        {"2026/10/08T17:00:00Z", false},
        {"2026-10-08T17-00:00Z", false},
        {"abcd-10-08T17:00:00Z", false},
        {"2026-10-08T17:00:00." + std::string(19, '0') + "Z", true},
        {"2026-10-08T17:00:00." + std::string(20, '0') + "Z", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isTimestamp(c.text), c.valid) << c.text;
}

TEST(SessionDocument, TokenAcceptedOnlyInTheIssuedShape) {
    const std::string token = "abcdefghijklmnopqrstuvwxyz0123456789_-ABCDE";
    ASSERT_EQ(token.size(), 43u);
    struct Case {
        const char* what;
        json document;
        bool accepted;
    };
    const Case cases[] = {
        {"issued shape", json{{"token", token}, {"expires_at", "2026-11-08T17:00:00Z"}}, true},
        {"42 characters", json{{"token", token.substr(1)}, {"expires_at", "2026-11-08T17:00:00Z"}}, false},
        {"44 characters", json{{"token", token + "x"}, {"expires_at", "2026-11-08T17:00:00Z"}}, false},
        {"a slash", json{{"token", "/" + token.substr(1)}, {"expires_at", "2026-11-08T17:00:00Z"}}, false},
        {"no expiry", json{{"token", token}}, false},
        {"bad expiry", json{{"token", token}, {"expires_at", "mañana"}}, false},
        {"token as a number", json{{"token", 43}, {"expires_at", "2026-11-08T17:00:00Z"}}, false},
    };
    for (const Case& c : cases) {
        ServiceJson document = c.document;
        SessionToken out;
        EXPECT_EQ(parseSession(document, out), c.accepted) << c.what;
        EXPECT_EQ(std::string(out.view()), c.accepted ? token : "") << c.what;
        if (document["token"].is_string()) {
            EXPECT_TRUE(document["token"].get_ref<const ServiceText&>().empty())
                << c.what << ": copy not wiped";
        }
    }
}

TEST(LinkDocument, UrlText) {
    std::string url;
    EXPECT_TRUE(parseLinkUrl(json{{"url", "https://discord.com/oauth2/authorize?state=x"}}, url));
    EXPECT_EQ(url, "https://discord.com/oauth2/authorize?state=x");
    EXPECT_TRUE(parseLinkUrl(json{{"url", std::string(900, 'u')}}, url));
    EXPECT_FALSE(parseLinkUrl(json{{"url", std::string(901, 'u')}}, url));
    EXPECT_FALSE(parseLinkUrl(json{{"url", ""}}, url));
    EXPECT_FALSE(parseLinkUrl(json{{"url", "https://a/\r\nb"}}, url));
    EXPECT_FALSE(parseLinkUrl(json{{"href", "https://a/"}}, url));
}
