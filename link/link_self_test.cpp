#include "link/link_self_test.h"

#include "link/https_transport.h"
#include "link/service_documents.h"
#include "link/service_hosts.h"
#include "link/url_policy.h"

#include <string>
#include <string_view>

namespace {

struct Verdicts {
    uint32_t failures = 0;
    void expect(bool got, bool wanted) {
        if (got != wanted)
            ++failures;
    }
};

template <typename Case, size_t N, typename Rule>
void expectAll(Verdicts& v, const Case (&cases)[N], Rule rule) {
    for (const Case& c : cases)
        v.expect(rule(c), c.accepted);
}

std::string repeated(std::string_view unit, size_t times) {
    std::string text;
    text.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

// U+1F600: four UTF-8 bytes, two UTF-16 units; limits in bytes and in units must both hold for it.
constexpr std::string_view kWideChar = "\xF0\x9F\x98\x80";

std::string configDocument(const std::string& title, const std::string& body, const char* requireLinking) {
    return std::string(R"({"server_address":"203.0.113.7:27015",)"
                       R"("community_url":"https://community.example:8443/foro/inicio#noticias",)"
                       R"("require_linking":)") +
           requireLinking + R"(,"discord_enabled":true,"news":[{"id":1,"title":")" + title + R"(","body":")" +
           body + R"(","published_at":"2026-10-08T17:00:00Z"}]})";
}

void baseUrls(Verdicts& v) {
    const std::wstring production = kServiceBaseUrl;
    struct Case {
        std::wstring url;
        bool accepted;
    };
    const Case cases[] = {
        {production, true},
        {L"http://" + std::wstring(kServiceHost) + kServiceBasePath, false},
        {L"https://other.invalid" + std::wstring(kServiceBasePath), false},
        {production + L"?token=never", false},
    };
    expectAll(v, cases, [](const Case& c) {
        UrlParts parts;
        return validateBaseUrl(c.url.c_str(), parts);
    });
}

void authorizationUrls(Verdicts& v) {
    const std::wstring steam = std::wstring(L"https://") + kSteamOpenIdHost;
    const std::wstring discord = std::wstring(L"https://") + kDiscordHost;
    const std::wstring authorize = L"/oauth2/authorize?state=one-time";
    struct Case {
        std::wstring url;
        bool steam;
        bool accepted;
    };
    const Case cases[] = {
        {steam + L"/openid/login?openid.mode=checkid_setup", true, true},
        {discord + authorize, false, true},
        {discord + L".evil.invalid" + authorize, false, false},
        {L"https://player:secret@" + std::wstring(kDiscordHost) + authorize, false, false},
    };
    expectAll(v, cases, [](const Case& c) { return isAllowedAuthorizationUrl(c.url.c_str(), c.steam); });
}

void tokenCharacters(Verdicts& v) {
    struct Case {
        std::string_view token;
        bool accepted;
    };
    // Both long enough for the length rule, so only the characters decide.
    const Case cases[] = {
        {"abcdefghijklmnopqrstuvwxyz0123456789_-ABCDEF", true},
        {"abc\r\nX-Injected-Header: yes", false},
    };
    expectAll(v, cases, [](const Case& c) { return isTokenWellFormed(c.token); });
}

void configDocuments(Verdicts& v, LinkState& state) {
    const std::string sample = configDocument("Comunidad", "Texto\\nsegunda línea", "true");
    v.expect(parseConfig(parseServiceDocument(sample), state) && state.configLoaded && state.requireLinking,
             true);
    const std::string wide = configDocument(repeated(kWideChar, 158), repeated(kWideChar, 1190), "true");
    v.expect(parseConfig(parseServiceDocument(wide), state), true);

    const nlohmann::json account = parseServiceDocument(R"({"id":"76561198000000001","display_name":")" +
                                                        repeated(kWideChar, 100) + R"("})");
    bool linked = false;
    std::wstring name;
    v.expect(parseAccount(account, linked, name) && linked && name.size() == 200, true);

    const std::string stringFlag = configDocument("Comunidad", "Texto", "\"true\"");
    v.expect(parseConfig(parseServiceDocument(stringFlag), state), false);
}

void linkStatusDocuments(Verdicts& v, LinkState& state) {
    const std::string bothLinked = R"({"steam":{"id":"76561198000000001","display_name":"Jugador"},)"
                                   R"("discord":{"id":"123456789012345678","display_name":"Jugadora"},)"
                                   R"("ready":true,"expires_at":"2026-10-09T17:00:00Z"})";
    v.expect(parseLinkStatus(parseServiceDocument(bothLinked), state) && state.ready, true);
    const std::string unlinked =
        R"({"steam":null,"discord":null,"ready":true,"expires_at":"2026-10-09T17:00:00Z"})";
    v.expect(parseLinkStatus(parseServiceDocument(unlinked), state) && !state.ready, true);
    const std::string stringReady =
        R"({"steam":null,"discord":null,"ready":"true","expires_at":"2026-10-09T17:00:00Z"})";
    v.expect(parseLinkStatus(parseServiceDocument(stringReady), state), false);
}

void bodiesWithoutDocument(Verdicts& v) {
    // Each is an object apart from the one rule it breaks, so that rule alone refuses it.
    const std::string oversized = R"({"a":")" + std::string(kMaxDocumentBytes + 1 - 8, 'x') + R"("})";
    const std::string deep = R"({"a":)" + std::string(40, '[') + "0" + std::string(40, ']') + "}";
    struct Case {
        std::string body;
        bool accepted;
    };
    const Case cases[] = {{oversized, false}, {"{broken", false}, {deep, false}};
    expectAll(v, cases, [](const Case& c) { return !parseServiceDocument(c.body).is_null(); });
}

void serverAddresses(Verdicts& v) {
    struct Case {
        std::string_view address;
        bool accepted;
    };
    const Case cases[] = {{"203.0.113.7:27015 +exec evil", false}, {"203.0.113.7:27015", true}};
    expectAll(v, cases, [](const Case& c) { return isServerAddressWellFormed(c.address); });
}

void endpoints(Verdicts& v) {
    struct Case {
        const wchar_t* method;
        const wchar_t* path;
        bool accepted;
    };
    const Case cases[] = {
        {L"GET", L"/config", true},
        {L"GET", L"/session?token=never", false},
        {L"DELETE", L"/sessions", false},
    };
    expectAll(v, cases, [](const Case& c) { return isAllowedEndpoint(c.method, c.path); });
}

} // namespace

uint32_t runLinkServiceSelfTest() {
    Verdicts v;
    baseUrls(v);
    authorizationUrls(v);
    tokenCharacters(v);
    LinkState state;
    configDocuments(v, state);
    linkStatusDocuments(v, state);
    bodiesWithoutDocument(v);
    serverAddresses(v);
    endpoints(v);
    return v.failures;
}
