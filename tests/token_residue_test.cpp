// No copy of the session token may be left in memory the program gives back to the heap. The probe
// (freed_block_probe.cpp) searches every released block while a scenario runs; the scenarios use the
// real transport against the project's own link service (tools/with-link-service.sh), with answers
// chosen through its control port so that the tokens are known in advance.
#include "freed_block_probe.h"
#include "link/https_transport.h"
#include "link/link_service.h"
#include "link/service_hosts.h"
#include "link/service_documents.h"
#include "link/session_store.h"
#include "link/url_policy.h"
#include "link_service_control.h"
#include "link_service_polling.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using nlohmann::json;
using testsupport::TempFolder;

namespace {

constexpr std::string_view kFirst = "u9effBkV2R2VH9dERcHKa3K_9QNDmKafCmKRywZxO3o";
constexpr std::string_view kSecond = "kHIThCnYTaZgmd2T5baSIt3qGjQCH7wjPKrIn2M1fS0";
const wchar_t kBadLinkUrl[] = L"La dirección de vinculación recibida no es válida.";

std::string sessionDocument(std::string_view token) {
    return json{{"token", token}, {"expires_at", "2026-10-09T17:00:00Z"}}.dump();
}

const char kUnlinkedStatus[] =
    R"({"steam":null,"discord":null,"ready":false,"expires_at":"2026-10-09T17:00:00Z"})";

std::string describe(const freedprobe::Tally& tally) {
    std::string text = std::to_string(tally.blocksHolding);
    text += " of ";
    text += std::to_string(tally.blocksFreed);
    text += " freed blocks held a token; sizes:";
    for (size_t i = 0; i < freedprobe::kKeptSizes && i < tally.blocksHolding; ++i) {
        text += ' ';
        text += std::to_string(tally.sizes[i]);
    }
    return text;
}

bool connected(const LinkState& s) {
    return s.configLoaded && !s.busy && s.message.empty();
}

// Stops the service and waits until the worker has let go of the shared state, so that everything the
// service held has been released inside the scenario.
bool stopAndJoin(LinkService& service) {
    HANDLE worker = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), service.thread, GetCurrentProcess(), &worker, SYNCHRONIZE,
                         FALSE, 0))
        return false;
    service.stop();
    const bool ended = WaitForSingleObject(worker, 10000) == WAIT_OBJECT_0;
    CloseHandle(worker);
    return ended;
}

int requestsTo(const json& events, const char* method, const char* path) {
    int count = 0;
    for (const json& event : events)
        if (event.value("event", "") == "request" && event.value("method", "") == method &&
            event.value("path", "") == path)
            ++count;
    return count;
}

class TokenResidue : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(linkservice::environment(L"ORVANE_LINK_SERVICE_HOST"), std::wstring(kServiceHost))
            << "run through tools/with-link-service.sh with the build's service host";
        ASSERT_TRUE(linkservice::reset());
        freedprobe::forgetAll();
        ASSERT_TRUE(freedprobe::watch(kFirst));
        ASSERT_TRUE(freedprobe::watch(kSecond));
        since = linkservice::nextEvent();
    }

    void TearDown() override {
        freedprobe::disarm();
        freedprobe::forgetAll();
        linkservice::reset();
    }

    // Ends the scenario: reports the tally and checks that no freed block held a token.
    void expectNoResidue(const std::string& scenario) {
        const freedprobe::Tally tally = freedprobe::disarm();
        std::printf("%s: %s\n", scenario.c_str(), describe(tally).c_str());
        EXPECT_GT(tally.blocksFreed, 0u) << scenario << ": the probe saw nothing freed";
        EXPECT_EQ(tally.blocksHolding, 0u) << scenario << ": " << describe(tally);
    }

    // One run of the worker, armed from its start until everything it held is released: it connects,
    // then `then` drives it further (true when that went as expected).
    template <typename Then> void runWorker(const char* scenario, Then then) {
        bool started = false;
        bool wasConnected = false;
        bool wentOn = false;
        bool joined = false;
        freedprobe::arm();
        {
            LinkService service;
            started = service.start(folder.path.c_str(), kServiceBaseUrl);
            wasConnected = started && pollUntil(service, connected);
            wentOn = wasConnected && then(service);
            joined = started && stopAndJoin(service);
        }
        expectNoResidue(scenario);
        EXPECT_TRUE(started) << scenario;
        EXPECT_TRUE(wasConnected) << scenario;
        EXPECT_TRUE(wentOn) << scenario;
        EXPECT_TRUE(joined) << scenario;
    }

    TempFolder folder;
    std::wstring sessionFile = folder / L"launcher-session.dat";
    long long since = 0;
};

TEST_F(TokenResidue, SessionStoreSavesAndLoads) {
    bool saved = false;
    bool loadedBack = false;
    freedprobe::arm();
    {
        saved = saveSessionToken(sessionFile.c_str(), kFirst);
        const SessionToken loaded = loadSessionToken(sessionFile.c_str());
        loadedBack = loaded.view() == kFirst;
    }
    expectNoResidue("session store");
    EXPECT_TRUE(saved);
    EXPECT_TRUE(loadedBack);
}

// Session documents read straight from text, well formed or not: the parser's error path, the
// depth limit and the readers' refusals must not leave the token behind either.
TEST_F(TokenResidue, SessionDocumentsWhetherAcceptedOrNot) {
    const std::string token(kFirst);
    const std::string expiry = R"("expires_at":"2026-10-09T17:00:00Z")";
    struct Case {
        const char* what;
        std::string body;
        bool accepted;
    };
    std::string nested = R"({"token":")" + token + R"("})";
    for (int i = 0; i < 20; ++i)
        nested = R"({"a":)" + nested + "}";
    std::string crowded = "{" + expiry + R"(,"token":")" + token + '"';
    for (int i = 0; i < 64; ++i)
        crowded += ",\"m" + std::to_string(i) + "\":0";
    crowded += "}";
    const std::vector<Case> cases = {
        {"issued", "{" + expiry + R"(,"token":")" + token + R"("})", true},
        {"cut off inside the token", "{" + expiry + R"(,"token":")" + token, false},
        {"control byte after the token", "{" + expiry + R"(,"token":")" + token + "\x01\"}", false},
        {"no closing brace", "{" + expiry + R"(,"token":")" + token + '"', false},
        {"one character too long", "{" + expiry + R"(,"token":")" + token + R"(x"})", false},
        {"token as a member name", "{" + expiry + R"(,")" + token + R"(":1})", false},
        {"nested too deep", nested, false},
        {"too many members", crowded, false},
    };
    for (const Case& c : cases) {
        bool accepted = false;
        freedprobe::arm();
        {
            ServiceJson document = parseServiceDocument(c.body);
            SessionToken read;
            accepted = parseSession(document, read) && read.view() == kFirst;
        }
        expectNoResidue(c.what);
        EXPECT_EQ(accepted, c.accepted) << c.what;
    }
}

// The authorisation page check splits the URL; a refused page may carry the token anywhere.
TEST_F(TokenResidue, AuthorisationPageCheck) {
    const std::wstring token(kFirst.begin(), kFirst.end());
    struct Case {
        std::wstring url;
        bool steam;
        bool allowed;
    };
    const Case cases[] = {
        {L"https://steamcommunity.com/openid/login?session=" + token, true, true},
        {L"https://discord.com/oauth2/authorize?state=" + token, true, false},
        {L"https://steamcommunity.com/openid/login/" + token + L"?openid.mode=checkid_setup", true, false},
        {L"https://" + token + L".example/oauth2/authorize?state=1", false, false},
    };
    for (const Case& c : cases) {
        bool allowed = false;
        freedprobe::arm();
        allowed = isAllowedAuthorizationUrl(c.url.c_str(), c.steam);
        expectNoResidue("page check");
        EXPECT_EQ(allowed, c.allowed);
    }
}

// The bearer token travels in the request context's header block; the answers echo nothing.
TEST_F(TokenResidue, RequestsWithTheBearerToken) {
    UrlParts endpoint;
    ASSERT_TRUE(validateBaseUrl(kServiceBaseUrl, endpoint));
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    uint32_t statusAnswer = 0;
    uint32_t linkAnswer = 0;
    freedprobe::arm();
    {
        HttpResult status;
        performRequest(status, endpoint, L"GET", L"/session", kFirst, cancel);
        statusAnswer = status.complete ? status.status : 0;
        HttpResult link;
        performRequest(link, endpoint, L"POST", L"/link/steam", kSecond, cancel);
        linkAnswer = link.complete ? link.status : 0;
    }
    expectNoResidue("bearer requests");
    CloseHandle(cancel);
    // Neither token is known to the service.
    EXPECT_EQ(statusAnswer, 401u);
    EXPECT_EQ(linkAnswer, 401u);
}

// A result that held the token and is then overwritten by a longer answer gives its block up.
TEST_F(TokenResidue, ResultOverwrittenByALongerOne) {
    HttpResult session;
    session.body = kFirst;
    HttpResult longer;
    longer.body.assign(256, 'x');
    freedprobe::arm();
    session = longer;
    expectNoResidue("result overwritten");
    EXPECT_EQ(session.body, longer.body);
}

// A /sessions answer carrying the token, the status poll with it, then a link page that carries the
// token and is therefore refused.
TEST_F(TokenResidue, SessionCreationAndARefusedLinkPage) {
    ASSERT_TRUE(
        linkservice::answer("POST", "/sessions", {{"status", 201}, {"body", sessionDocument(kFirst)}}));
    ASSERT_TRUE(linkservice::answer("GET", "/session", {{"body", kUnlinkedStatus}}, 10));
    const std::string page =
        "https://steamcommunity.com/openid/login?openid.mode=checkid_setup&session=" + std::string(kFirst);
    ASSERT_TRUE(linkservice::answer("POST", "/link/steam", {{"body", json{{"url", page}}.dump()}}));
    runWorker("session creation and refused link page", [](LinkService& service) {
        return service.post(LinkSteam) &&
               pollUntil(service, [](const LinkState& s) { return !s.busy && s.message == kBadLinkUrl; });
    });
    EXPECT_EQ(loadSessionToken(sessionFile.c_str()).view(), kFirst);
}

// The stored session is refused with 401: the worker forgets it, creates the next one and asks again.
TEST_F(TokenResidue, ExpiredSessionIsRenewed) {
    ASSERT_TRUE(saveSessionToken(sessionFile.c_str(), kFirst));
    // Chosen answers are taken newest first: the 401 comes before the valid status.
    ASSERT_TRUE(linkservice::answer("GET", "/session", {{"body", kUnlinkedStatus}}, 10));
    ASSERT_TRUE(
        linkservice::answer("GET", "/session", {{"status", 401}, {"body", R"({"error":"expired"})"}}));
    ASSERT_TRUE(
        linkservice::answer("POST", "/sessions", {{"status", 201}, {"body", sessionDocument(kSecond)}}));
    runWorker("401 renewal", [](LinkService&) { return true; });
    EXPECT_EQ(loadSessionToken(sessionFile.c_str()).view(), kSecond);
    const json events = linkservice::eventsSince(since);
    EXPECT_EQ(requestsTo(events, "GET", "/session"), 2);
    EXPECT_EQ(requestsTo(events, "POST", "/sessions"), 1);
}

} // namespace
