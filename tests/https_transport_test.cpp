// performRequest against the project's own link service over real TLS (tools/with-link-service.sh).
#include "link/https_transport.h"
#include "link/service_documents.h"
#include "link/service_hosts.h"
#include "link/url_policy.h"
#include "link_service_control.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

using nlohmann::json;

namespace {

const std::string kUnknownToken(43, 'u');

class Transport : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(linkservice::environment(L"ORVANE_LINK_SERVICE_HOST"), std::wstring(kServiceHost))
            << "run through tools/with-link-service.sh with the build's service host";
        ASSERT_TRUE(validateBaseUrl(kServiceBaseUrl, endpoint));
        ASSERT_TRUE(linkservice::reset());
        ASSERT_NE(cancel, nullptr);
    }
    void TearDown() override {
        linkservice::reset();
        CloseHandle(cancel);
    }

    HttpResult request(const wchar_t* method, const wchar_t* path, std::string_view token = {}) {
        HttpResult result;
        performRequest(result, endpoint, method, path, token, cancel);
        return result;
    }

    std::string newSession() {
        HttpResult created = request(L"POST", L"/sessions");
        ServiceJson document = parseServiceDocument(created.body);
        SessionToken token;
        EXPECT_TRUE(created.complete && created.status == 201 && parseSession(document, token));
        return std::string(token.view());
    }

    UrlParts endpoint;
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

std::vector<json> requestsIn(const json& events) {
    std::vector<json> requests;
    for (const json& event : events)
        if (event.value("event", "") == "request")
            requests.push_back(event);
    return requests;
}

std::vector<std::pair<std::string, std::string>> headersOf(const json& request) {
    std::vector<std::pair<std::string, std::string>> headers;
    for (const json& pair : request["headers"])
        headers.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    return headers;
}

} // namespace

TEST_F(Transport, ConfigurationDocumentOverTls) {
    const HttpResult result = request(L"GET", L"/config");
    ASSERT_TRUE(result.complete) << result.error;
    EXPECT_EQ(result.status, 200u);
    EXPECT_EQ(result.error, 0u);
    LinkState state;
    ASSERT_TRUE(parseConfig(parseServiceDocument(result.body), state));
    EXPECT_TRUE(state.configLoaded);
    EXPECT_FALSE(state.newsTitle.empty());
}

TEST_F(Transport, ContentTypeMustBeJson) {
    struct Case {
        json type;
        bool accepted;
    };
    const Case cases[] = {
        {"application/json", true},
        {"application/json; charset=utf-8", true},
        {"application/json;charset=UTF-8", true},
        // Whitespace before the ";" is legal in a media type.
        {"application/json ; charset=utf-8", true},
        {"application/json\t;charset=utf-8", true},
        {"application/json x", false},
        {"application/json ,text/html", false},
        {"APPLICATION/JSON", true},
        {nullptr, false},
        {"application/jsonx", false},
        {"application/json-seq", false},
        {"application/jso", false},
        {"text/html", false},
        {"text/plain; charset=utf-8", false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(linkservice::answer("GET", "/config", {{"content_type", c.type}, {"body", "{\"a\":1}"}}));
        const HttpResult result = request(L"GET", L"/config");
        const std::string what = c.type.is_null() ? "no content type" : c.type.get<std::string>();
        EXPECT_EQ(result.complete, c.accepted) << what;
        EXPECT_EQ(result.status, 200u) << what << ": the status is kept either way";
        if (c.accepted) {
            EXPECT_EQ(result.error, 0u) << what;
            EXPECT_EQ(result.body, "{\"a\":1}") << what;
        } else {
            EXPECT_NE(result.error, 0u) << what;
            EXPECT_TRUE(result.body.empty()) << what;
        }
    }
}

TEST_F(Transport, BodyLimit) {
    struct Case {
        int size;
        bool complete;
        uint32_t error;
    };
    const Case cases[] = {{131072, true, 0}, {131073, false, ERROR_BUFFER_OVERFLOW}, {0, true, 0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(linkservice::answer("GET", "/config", {{"body_size", c.size}}));
        const HttpResult result = request(L"GET", L"/config");
        EXPECT_EQ(result.complete, c.complete) << c.size;
        EXPECT_EQ(result.error, c.error) << c.size;
        EXPECT_EQ(result.status, 200u) << c.size;
        EXPECT_EQ(result.body.size(), c.complete ? static_cast<size_t>(c.size) : 0u) << c.size;
    }
}

TEST_F(Transport, StatusCodesAreReturnedNotJudged) {
    const std::string target = "https://" + std::string(kServiceHost, kServiceHost + wcslen(kServiceHost)) +
                               "/orvane-launcher/v1/9e3f51d0/session";
    ASSERT_TRUE(linkservice::answer(
        "GET", "/config", {{"status", 302}, {"headers", json::array({json::array({"Location", target})})}}));
    const long long before = linkservice::nextEvent();
    const HttpResult redirect = request(L"GET", L"/config");
    EXPECT_EQ(redirect.status, 302u);
    EXPECT_TRUE(redirect.complete);
    const auto seen = requestsIn(linkservice::eventsSince(before));
    ASSERT_EQ(seen.size(), 1u) << "the redirect was followed";
    EXPECT_EQ(seen[0]["path"], "/config");

    ASSERT_TRUE(linkservice::answer("GET", "/config", {{"status", 503}, {"body", "{\"error\":\"down\"}"}}));
    const HttpResult unavailable = request(L"GET", L"/config");
    EXPECT_TRUE(unavailable.complete);
    EXPECT_EQ(unavailable.status, 503u);

    const HttpResult expired = request(L"GET", L"/session", kUnknownToken);
    EXPECT_TRUE(expired.complete);
    EXPECT_EQ(expired.status, 401u);
}

TEST_F(Transport, RefusedRequestsNeverReachTheNetwork) {
    auto endpointWith = [&](auto change) {
        UrlParts parts = endpoint;
        change(parts);
        return parts;
    };
    const std::wstring decoy = linkservice::environment(L"ORVANE_LINK_DECOY_HOST");
    ASSERT_FALSE(decoy.empty());
    struct Case {
        const char* what;
        UrlParts endpoint;
        const wchar_t* method;
        const wchar_t* path;
        std::string token;
    };
    const Case cases[] = {
        // Other hosts resolve to the service too (the decoy) or to loopback, so a leak would show.
        {"another host", endpointWith([&](UrlParts& p) { p.host = decoy; }), L"GET", L"/config", ""},
        {"localhost", endpointWith([](UrlParts& p) { p.host = L"localhost"; }), L"GET", L"/config", ""},
        {"port 8443", endpointWith([](UrlParts& p) { p.port = 8443; }), L"GET", L"/config", ""},
        {"base path in another case",
         endpointWith([](UrlParts& p) { p.path = L"/Orvane-launcher/v1/9e3f51d0"; }), L"GET", L"/config", ""},
        {"base path with a slash", endpointWith([](UrlParts& p) { p.path += L"/"; }), L"GET", L"/config", ""},
        {"extra part", endpointWith([](UrlParts& p) { p.extra = L"?x=1"; }), L"GET", L"/config", ""},
        {"status path with a query", endpoint, L"GET", L"/session?token=x", ""},
        {"DELETE of sessions", endpoint, L"DELETE", L"/sessions", ""},
        {"lower-case method", endpoint, L"get", L"/config", ""},
        {"null path", endpoint, L"GET", nullptr, ""},
        {"42-character token", endpoint, L"GET", L"/session", std::string(42, 'a')},
        {"44-character token", endpoint, L"GET", L"/session", std::string(44, 'a')},
        {"token with CR LF", endpoint, L"GET", L"/session",
         std::string(20, 'a') + "\r\nX-Injected: 1" + std::string(7, 'a')},
        {"token with a plus", endpoint, L"GET", L"/session", std::string(42, 'a') + "+"},
    };
    const long long before = linkservice::nextEvent();
    ASSERT_GT(before, 0);
    for (const Case& c : cases) {
        HttpResult result;
        performRequest(result, c.endpoint, c.method, c.path, c.token, cancel);
        EXPECT_EQ(result.error, static_cast<uint32_t>(ERROR_ACCESS_DENIED)) << c.what;
        EXPECT_EQ(result.status, 0u) << c.what;
        EXPECT_FALSE(result.complete) << c.what;
    }
    SetEvent(cancel);
    const HttpResult cancelled = request(L"GET", L"/config");
    EXPECT_EQ(cancelled.error, static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_EQ(linkservice::eventsSince(before), json::array()) << "a refused request reached the service";
}

TEST_F(Transport, CancelEndsTheCurrentWait) {
    ASSERT_TRUE(linkservice::answer("GET", "/config", {{"delay_ms", 5000}}));
    std::thread canceller([this] {
        Sleep(300);
        SetEvent(cancel);
    });
    const ULONGLONG started = GetTickCount64();
    const HttpResult result = request(L"GET", L"/config");
    const ULONGLONG took = GetTickCount64() - started;
    canceller.join();
    EXPECT_EQ(result.error, static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.status, 0u);
    // Well before the service's answer: the wait itself was cut short.
    EXPECT_LT(took, 3000u);
}

TEST_F(Transport, UntrustedCertificateIsRefused) {
    ASSERT_EQ(linkservice::call(L"POST", L"/tls", {{"certificate", "untrusted"}}).status, 200u);
    const long long before = linkservice::nextEvent();
    const HttpResult result = request(L"GET", L"/config");
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.status, 0u);
    EXPECT_NE(result.error, 0u);
    // Windows reports 12175 (ERROR_WINHTTP_SECURE_FAILURE), Wine 12157 (secure channel error).
    EXPECT_TRUE(result.error == ERROR_WINHTTP_SECURE_FAILURE ||
                result.error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR)
        << result.error;
    const json events = linkservice::eventsSince(before);
    EXPECT_TRUE(requestsIn(events).empty()) << "a request was sent over the untrusted link";

    ASSERT_TRUE(linkservice::reset());
    EXPECT_TRUE(request(L"GET", L"/config").complete) << "the trusted certificate works again";
}

TEST_F(Transport, DroppedConnectionFails) {
    ASSERT_TRUE(linkservice::answer("GET", "/config", {{"drop", true}}));
    const HttpResult result = request(L"GET", L"/config");
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.status, 0u);
    EXPECT_NE(result.error, 0u);
}

// Even when the service would keep a connection open, no request rides on an earlier one: an abandoned
// request is never drained to reuse its connection, and the admins' document promises a fresh one.
TEST_F(Transport, EveryRequestOnAFreshConnection) {
    ASSERT_EQ(linkservice::call(L"POST", L"/connections", {{"keep_alive", true}}).status, 200u);
    const long long since = linkservice::nextEvent();
    for (int i = 0; i < 3; ++i) {
        const HttpResult result = request(L"GET", L"/config");
        ASSERT_TRUE(result.complete) << result.error;
    }
    std::set<std::string> clients;
    int connections = 0;
    for (const json& event : linkservice::eventsSince(since)) {
        connections += event.value("event", "") == "connection";
        if (event.value("event", "") == "request")
            clients.insert(event.value("client", ""));
    }
    EXPECT_EQ(clients.size(), 3u);
    EXPECT_EQ(connections, 3);
}

TEST_F(Transport, BearerHeaderCarriesTheTokenAndNothingElseDoes) {
    const long long before = linkservice::nextEvent();
    const std::string token = newSession();
    ASSERT_EQ(token.size(), 43u);
    const HttpResult status = request(L"GET", L"/session", token);
    ASSERT_TRUE(status.complete);
    EXPECT_EQ(status.status, 200u);

    const json events = linkservice::eventsSince(before);
    EXPECT_EQ(events.dump().find(token), std::string::npos) << "the service logged the token in clear";
    const auto seen = requestsIn(events);
    ASSERT_EQ(seen.size(), 2u);
    struct Expect {
        const char* method;
        const char* path;
        const char* body;
        bool bearer;
    };
    const Expect expected[] = {{"POST", "/sessions", "{}", false}, {"GET", "/session", "", true}};
    for (size_t i = 0; i < 2; ++i) {
        const json& r = seen[i];
        EXPECT_EQ(r["method"], expected[i].method);
        EXPECT_EQ(r["path"], expected[i].path);
        EXPECT_EQ(r["body"], expected[i].body);
        EXPECT_EQ(r["tokens_elsewhere"], json::array()) << expected[i].path;
        int bearers = 0;
        bool agent = false;
        bool accept = false;
        for (const auto& [name, value] : headersOf(r)) {
            EXPECT_NE(name, "Cookie");
            if (name == "Authorization") {
                ++bearers;
                EXPECT_EQ(value, "Bearer " + linkservice::fingerprint(token));
            }
            agent |= name == "User-Agent" && value == "OrvaneGaming/2.0";
            accept |= name == "Accept" && value == "application/json";
        }
        EXPECT_EQ(bearers, expected[i].bearer ? 1 : 0) << expected[i].path;
        EXPECT_TRUE(agent) << expected[i].path;
        EXPECT_TRUE(accept) << expected[i].path;
    }
}

// The service as the later link tests use it: its answers pass the launcher's own readers and rules.
TEST_F(Transport, ServiceSessionAndLinkRoad) {
    const std::string token = newSession();
    ASSERT_EQ(token.size(), 43u);

    LinkState state;
    state.configLoaded = true;
    const HttpResult fresh = request(L"GET", L"/session", token);
    ASSERT_TRUE(fresh.complete && fresh.status == 200);
    ASSERT_TRUE(parseLinkStatus(parseServiceDocument(fresh.body), state));
    EXPECT_FALSE(state.steamLinked);
    EXPECT_FALSE(state.ready);

    EXPECT_EQ(request(L"POST", L"/link/discord", token).status, 400u) << "Discord before Steam";
    for (const bool steam : {true, false}) {
        const HttpResult link = request(L"POST", steam ? L"/link/steam" : L"/link/discord", token);
        ASSERT_TRUE(link.complete && link.status == 200) << steam;
        std::string url;
        ASSERT_TRUE(parseLinkUrl(parseServiceDocument(link.body), url)) << steam;
        EXPECT_TRUE(isAllowedAuthorizationUrl(utf8ToWide(url).c_str(), steam)) << url;
        EXPECT_FALSE(isAllowedAuthorizationUrl(utf8ToWide(url).c_str(), !steam)) << url;
        EXPECT_EQ(url.find(token), std::string::npos);
        ASSERT_EQ(linkservice::call(L"POST", L"/link", {{"provider", steam ? "steam" : "discord"}}).status,
                  200u);
    }
    const HttpResult linked = request(L"GET", L"/session", token);
    ASSERT_TRUE(linked.complete && linked.status == 200);
    ASSERT_TRUE(parseLinkStatus(parseServiceDocument(linked.body), state));
    EXPECT_TRUE(state.steamLinked);
    EXPECT_TRUE(state.discordLinked);
    EXPECT_TRUE(state.ready);
    EXPECT_EQ(request(L"POST", L"/link/steam", token).status, 409u) << "already linked";

    EXPECT_EQ(request(L"POST", L"/logout", token).status, 200u);
    EXPECT_EQ(request(L"GET", L"/session", token).status, 401u);
}
