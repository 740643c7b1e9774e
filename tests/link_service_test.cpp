// The link service's worker against a scripted transport, a fake clock and a wait the test steps by
// hand, so the 30 s and 3 s cadence and the ten-minute time-out run without waiting.
#include "link/link_service.h"
#include "link/link_worker.h"
#include "link/service_hosts.h"
#include "link/session_store.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace testsupport;
using nlohmann::json;

namespace {

constexpr uint64_t kStart = 10000000;
constexpr uint64_t kToDeadline = UINT64_MAX;
constexpr DWORD kPatienceMs = 5000;

const std::string kSteamPage = "https://steamcommunity.com/openid/login?openid.mode=checkid_setup";
const std::string kDiscordPage = "https://discord.com/oauth2/authorize?state=one-time";

const wchar_t kUnavailable[] = L"El servicio de vinculación no está disponible. Vuelve a intentarlo.";
const wchar_t kDiscordMissing[] = L"El administrador aún no ha configurado Discord";
const wchar_t kExpired[] = L"La sesión ha caducado. Pulsa Reintentar para renovarla.";
const wchar_t kConflict[] = L"Esta cuenta ya está vinculada a otra sesión. Contacta con administración.";
const wchar_t kRedirect[] = L"El servicio devolvió una redirección no permitida.";
const wchar_t kBadLinkUrl[] = L"La dirección de vinculación recibida no es válida.";
const wchar_t kTimedOut[] = L"La vinculación no se completó. Vuelve a pulsar Vincular.";
const wchar_t kCouldNotStart[] = L"No se pudo iniciar el servicio de vinculación.";

// 43 characters of the token alphabet, different for every n.
std::string tokenNumber(int n) {
    const std::string digits = std::to_string(n);
    return "SessionToken" + std::string(31 - digits.size(), '0') + digits;
}

// The Steam page padded with a query parameter to exactly n characters.
std::string steamPageOfLength(size_t n) {
    const std::string start = kSteamPage + "&openid.pad=";
    return start + std::string(n - start.size(), 'p');
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text)
        out += static_cast<char>(*text);
    return out;
}

struct Reply {
    uint32_t status = 200;
    std::string body = "{}";
    bool complete = true;
    uint32_t error = 0;
};

Reply document(const json& value, uint32_t status = 200) {
    return {status, value.dump()};
}

json account(const char* id, const char* name) {
    return {{"id", id}, {"display_name", name}};
}

struct Logged {
    std::string route;
    std::string token;
    uint64_t at;
};

// What the substitute service answers, what it was asked, and the hand that turns the worker's wait.
struct Harness {
    std::atomic<uint64_t> clock{kStart};
    std::atomic<uint64_t> advance{kToDeadline};
    std::atomic<DWORD> lastTimeout{0};
    HANDLE go = CreateSemaphoreW(nullptr, 0, 1000, nullptr);
    HANDLE idle = CreateSemaphoreW(nullptr, 0, 1000, nullptr);

    // A request on holdRoute blocks until release is set (or the cancel handle, when honoured).
    std::string holdRoute;
    bool holdHonoursCancel = true;
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    std::mutex mutex;
    bool steamLinked = false;
    bool discordLinked = false;
    bool discordEnabled = true;
    std::atomic<bool> waitFails{false};
    std::deque<std::pair<std::string, Reply>> script;
    std::vector<Logged> log;
    int sessionsIssued = 0;

    ~Harness() {
        for (HANDLE handle : {go, idle, held, release})
            CloseHandle(handle);
    }

    void setLinked(bool steam, bool discord) {
        std::lock_guard<std::mutex> guard(mutex);
        steamLinked = steam;
        discordLinked = discord;
    }

    void scriptReply(const std::string& route, const Reply& reply) {
        std::lock_guard<std::mutex> guard(mutex);
        script.emplace_back(route, reply);
    }

    Reply modelAnswer(const std::string& route) {
        if (route == "GET /config") {
            const json item = {{"id", 1},
                               {"title", "Comunidad"},
                               {"body", "Texto"},
                               {"published_at", "2026-10-08T17:00:00Z"}};
            return document({{"server_address", "203.0.113.7:27015"},
                             {"community_url", "https://orvanegaming.com/foro"},
                             {"require_linking", true},
                             {"discord_enabled", discordEnabled},
                             {"news", json::array({item})}});
        }
        if (route == "POST /sessions")
            return document(
                {{"token", tokenNumber(++sessionsIssued)}, {"expires_at", "2026-10-09T17:00:00Z"}}, 201);
        if (route == "GET /session")
            return document({{"steam", steamLinked ? account("76561198000000001", "Jugador") : json()},
                             {"discord", discordLinked ? account("123456789012345678", "Jugadora") : json()},
                             {"ready", steamLinked && (discordLinked || !discordEnabled)},
                             {"expires_at", "2026-10-09T17:00:00Z"}});
        if (route == "POST /link/steam")
            return document({{"url", kSteamPage}});
        if (route == "POST /link/discord")
            return document({{"url", kDiscordPage}});
        return {};
    }

    // The first scripted reply for the route, else the model's; "{token}" in a body becomes the token.
    Reply answer(const std::string& route, std::string_view token) {
        std::lock_guard<std::mutex> guard(mutex);
        log.push_back({route, std::string(token), clock.load() - kStart});
        for (auto it = script.begin(); it != script.end(); ++it) {
            if (it->first != route)
                continue;
            Reply reply = it->second;
            script.erase(it);
            const size_t mark = reply.body.find("{token}");
            if (mark != std::string::npos)
                reply.body.replace(mark, 7, token);
            return reply;
        }
        return modelAnswer(route);
    }
};

Harness* gHarness = nullptr;

void scriptedTransport(HttpResult& result, const UrlParts&, const wchar_t* method, const wchar_t* path,
                       std::string_view token, HANDLE cancel) {
    Harness& h = *gHarness;
    const std::string route = narrow(method) + " " + narrow(path);
    if (route == h.holdRoute) {
        SetEvent(h.held);
        const HANDLE waits[2] = {h.release, cancel};
        WaitForMultipleObjects(h.holdHonoursCancel ? 2 : 1, waits, FALSE, 20000);
    }
    const Reply reply = h.answer(route, token);
    result.status = reply.status;
    result.error = reply.error;
    result.complete = reply.complete;
    result.body = reply.body;
}

uint64_t fakeNow() {
    return gHarness->clock.load();
}

// Hands control to the test: the worker goes on only when the test releases `go`. A wake already
// posted is taken at once; otherwise the clock moves on (to the deadline unless the test chose an
// amount) and the wait times out.
DWORD fakeWait(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    Harness& h = *gHarness;
    h.lastTimeout = timeoutMs;
    ReleaseSemaphore(h.idle, 1, nullptr);
    const HANDLE waits[2] = {handles[0], h.go};
    if (count != 2 || WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0 + 1)
        return WAIT_OBJECT_0;
    if (h.waitFails)
        return WAIT_FAILED;
    if (WaitForSingleObject(handles[1], 0) == WAIT_OBJECT_0)
        return WAIT_OBJECT_0 + 1;
    const uint64_t step = h.advance.load();
    h.clock += step == kToDeadline ? timeoutMs : step;
    return WAIT_TIMEOUT;
}

struct ServiceRun {
    Harness harness;
    TempFolder folder;
    LinkService service;
    HANDLE worker = nullptr;
    size_t seen = 0;

    ServiceRun() { gHarness = &harness; }
    ~ServiceRun() {
        service.stop();
        finished();
        if (worker != nullptr)
            CloseHandle(worker);
        gHarness = nullptr;
    }

    static LinkServiceHooks hooks() {
        LinkServiceHooks hooks;
        hooks.transport = scriptedTransport;
        hooks.now = fakeNow;
        hooks.wait = fakeWait;
        return hooks;
    }

    std::wstring sessionFile() const { return folder / L"launcher-session.dat"; }

    // Starts on the production address and lets the first pass run.
    bool start(const std::wstring& at = L"") {
        if (!service.start(at.empty() ? folder.path.c_str() : at.c_str(), kServiceBaseUrl, hooks()))
            return false;
        DuplicateHandle(GetCurrentProcess(), service.thread, GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE,
                        0);
        return settled();
    }

    bool settled() { return WaitForSingleObject(harness.idle, kPatienceMs) == WAIT_OBJECT_0; }

    // One more pass of the worker, after which it waits again.
    bool turn(uint64_t advance = kToDeadline) {
        harness.advance = advance;
        ReleaseSemaphore(harness.go, 1, nullptr);
        return settled();
    }

    bool postAndTurn(uint32_t bits) { return service.post(bits) && turn(); }

    // Lets the worker go on until it blocks in a request on `route`.
    bool holdAt(const std::string& route, uint32_t bits, bool honoursCancel = true) {
        harness.holdRoute = route;
        harness.holdHonoursCancel = honoursCancel;
        if (!service.post(bits))
            return false;
        ReleaseSemaphore(harness.go, 1, nullptr);
        return WaitForSingleObject(harness.held, kPatienceMs) == WAIT_OBJECT_0;
    }

    bool finished(DWORD patienceMs = kPatienceMs) {
        return worker != nullptr && WaitForSingleObject(worker, patienceMs) == WAIT_OBJECT_0;
    }

    const LinkState& snapshot() {
        service.pullSnapshot();
        return service.state;
    }

    // The requests made since the last call, as "GET /config@30000" (ms after the start).
    std::string requests() {
        std::lock_guard<std::mutex> guard(harness.mutex);
        std::string out;
        for (; seen < harness.log.size(); ++seen) {
            const Logged& entry = harness.log[seen];
            out += (out.empty() ? "" : ", ") + entry.route + "@" + std::to_string(entry.at);
        }
        return out;
    }

    std::vector<std::string> tokensOf(const std::string& route) {
        std::lock_guard<std::mutex> guard(harness.mutex);
        std::vector<std::string> tokens;
        for (const Logged& entry : harness.log)
            if (entry.route == route)
                tokens.push_back(entry.token);
        return tokens;
    }
};

std::string every(const std::string& route, uint64_t from, uint64_t to, uint64_t step) {
    std::string out;
    for (uint64_t at = from; at <= to; at += step)
        out += (out.empty() ? "" : ", ") + route + "@" + std::to_string(at);
    return out;
}

std::string atRest(uint64_t at) {
    return "GET /config@" + std::to_string(at) + ", GET /session@" + std::to_string(at);
}

} // namespace

TEST(LinkServiceMessages, FailureTextsByStatusThenError) {
    struct Case {
        uint32_t status;
        uint32_t error;
        bool discord;
        const wchar_t* expected;
    };
    const wchar_t* const certificate = L"No se pudo verificar el certificado del servicio.";
    const wchar_t* const unreachable =
        L"No se pudo conectar con el servicio de la comunidad. Pulsa Reintentar.";
    const Case cases[] = {
        {503, 0, true, kDiscordMissing},
        {503, 0, false, kUnavailable},
        {502, 0, true, kUnavailable},
        {401, 0, false, kExpired},
        {401, 0, true, kExpired},
        {403, 0, false, kExpired},
        {409, 0, true, kConflict},
        {429, 0, false, L"Demasiadas solicitudes. Espera unos segundos y vuelve a intentarlo."},
        {500, 0, false, kUnavailable},
        {503, 12175, false, kUnavailable},
        {0, 12175, false, certificate},
        {302, 12175, false, certificate},
        {300, 0, false, kRedirect},
        {302, 0, true, kRedirect},
        {399, 0, false, kRedirect},
        {400, 0, false, unreachable},
        {404, 0, false, unreachable},
        {200, 13, false, unreachable},
        {0, 12029, false, unreachable},
        {0, 0, false, unreachable},
    };
    for (const Case& c : cases) {
        HttpResult result;
        result.status = c.status;
        result.error = c.error;
        EXPECT_EQ(messageForFailure(result, c.discord), c.expected)
            << "status " << c.status << " error " << c.error << " discord " << c.discord;
    }
}

TEST(LinkServiceStart, RunsOnlyForTheServiceAddressAndAnExistingFolder) {
    enum Folder { Existing, WithSeparator, Missing, AFile, NoFolder };
    const wchar_t* const notAllowed = L"La dirección del servicio no está autorizada.";
    const wchar_t* const noFolder = L"No se encuentra la carpeta del launcher.";
    const std::wstring host = kServiceHost;
    const std::wstring base = kServiceBaseUrl;
    struct Case {
        const char* what;
        std::wstring url;
        Folder folder;
        const wchar_t* refusal;
    };
    const Case cases[] = {
        {"production address", base, Existing, nullptr},
        {"folder ending in a separator", base, WithSeparator, nullptr},
        {"plain http", L"http://" + host + kServiceBasePath, Existing, notAllowed},
        {"another host", std::wstring(L"https://link.example.com") + kServiceBasePath, Existing, notAllowed},
        {"query appended", base + L"?token=abc", Existing, notAllowed},
        {"fragment appended", base + L"#x", Existing, notAllowed},
        {"trailing slash", base + L"/", Existing, notAllowed},
        {"missing folder", base, Missing, noFolder},
        {"a file for the folder", base, AFile, noFolder},
        {"no folder given", base, NoFolder, noFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        std::wstring folder = run.folder.path;
        if (c.folder == WithSeparator)
            folder += L"\\";
        if (c.folder == Missing)
            folder = run.folder / L"absent";
        if (c.folder == AFile) {
            folder = run.folder / L"file.txt";
            ASSERT_TRUE(writeBytes(folder, "x"));
        }
        const bool started = run.service.start(c.folder == NoFolder ? nullptr : folder.c_str(), c.url.c_str(),
                                               ServiceRun::hooks());
        if (c.refusal != nullptr) {
            EXPECT_FALSE(started);
            EXPECT_EQ(run.service.state.message, c.refusal);
            EXPECT_FALSE(run.service.state.busy);
            EXPECT_FALSE(run.service.post(Retry));
            EXPECT_FALSE(run.service.pullSnapshot());
            run.service.requestRefresh();
            EXPECT_EQ(run.requests(), "");
            continue;
        }
        ASSERT_TRUE(started);
        EXPECT_TRUE(run.service.state.busy);
        DuplicateHandle(GetCurrentProcess(), run.service.thread, GetCurrentProcess(), &run.worker,
                        SYNCHRONIZE, FALSE, 0);
        ASSERT_TRUE(run.settled());
        EXPECT_EQ(run.requests(), "GET /config@0, POST /sessions@0, GET /session@0");
        EXPECT_EQ(loadSessionToken(run.sessionFile().c_str()).view(), tokenNumber(1));
        const LinkState& state = run.snapshot();
        EXPECT_TRUE(state.configLoaded);
        EXPECT_FALSE(state.busy);
        EXPECT_EQ(state.message, L"");
        EXPECT_EQ(state.serverAddress, L"203.0.113.7:27015");
        run.service.stop();
        EXPECT_FALSE(run.service.post(Retry));
        EXPECT_FALSE(run.service.pullSnapshot());
    }
}

// Each step acts on the running service, then names the requests it caused, in order.
struct Step {
    const char* what;
    std::function<bool(ServiceRun&)> act;
    std::string requests;
};

void runScenario(ServiceRun& run, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(step.act(run));
        EXPECT_EQ(run.requests(), step.requests);
    }
}

bool passTime(ServiceRun& run) {
    return run.turn();
}

bool turns(ServiceRun& run, int count) {
    for (int i = 0; i < count; ++i)
        if (!run.turn())
            return false;
    return true;
}

TEST(LinkServiceSchedule, ThirtySecondsAtRestThreeWhileAnAuthorisationIsAwaited) {
    ServiceRun run;
    runScenario(run, {
                         {"start", [](ServiceRun& r) { return r.start(); },
                          "GET /config@0, POST /sessions@0, GET /session@0"},
                         {"rest", passTime, atRest(30000)},
                         {"rest", passTime, atRest(60000)},
                         {"link Steam", [](ServiceRun& r) { return r.postAndTurn(LinkSteam); },
                          "POST /link/steam@60000"},
                         {"awaiting", [](ServiceRun& r) { return turns(r, 9); },
                          every("GET /session", 63000, 87000, 3000)},
                         {"configuration still every 30 s", passTime, atRest(90000)},
                         {"Steam linked",
                          [](ServiceRun& r) {
                              r.harness.setLinked(true, false);
                              return r.turn();
                          },
                          "GET /session@93000"},
                         {"rest again", passTime, atRest(120000)},
                         {"rest again", passTime, atRest(150000)},
                     });
    EXPECT_FALSE(run.snapshot().linkPending);
    EXPECT_TRUE(run.snapshot().steamLinked);
}

// A launcher the player cannot see asks nothing on its own while nothing is awaited, and waits with no
// deadline; an awaited authorisation keeps its 3 s; seen again, only what fell due meanwhile is asked.
TEST(LinkServiceSchedule, UnseenAtRestAsksNothingUntilSeenAgain) {
    ServiceRun run;
    const auto seen = [](bool value) {
        return [value](ServiceRun& r) {
            r.service.setWindowSeen(value);
            return true;
        };
    };
    const auto waitsForever = [](ServiceRun& r) { return r.harness.lastTimeout == INFINITE; };
    const auto after = [](uint64_t ms) { return [ms](ServiceRun& r) { return r.turn(ms); }; };
    runScenario(run,
                {
                    {"start", [](ServiceRun& r) { return r.start(); },
                     "GET /config@0, POST /sessions@0, GET /session@0"},
                    {"hidden", seen(false), ""},
                    {"the pass due at 30 s asks nothing", passTime, ""},
                    {"and then waits with no deadline", waitsForever, ""},
                    {"three hours later", after(3 * 3600 * 1000 - 30000), ""},
                    {"seen again: what is overdue, at once",
                     [](ServiceRun& r) {
                         r.service.setWindowSeen(true);
                         return r.turn() && r.harness.lastTimeout == 30000;
                     },
                     atRest(10800000)},
                    {"rest", passTime, atRest(10830000)},
                    {"hidden 10 s after a poll", seen(false), ""},
                    {"", after(10000), ""},
                    {"seen again before anything is due: nothing yet", seen(true), ""},
                    {"", [](ServiceRun& r) { return r.turn(0) && r.harness.lastTimeout == 20000; }, ""},
                    {"then at the usual time", passTime, atRest(10860000)},
                    {"hidden while a link is awaited", seen(false), ""},
                    {"the player's link request, from a screen reader",
                     [](ServiceRun& r) { return r.postAndTurn(LinkSteam); }, "POST /link/steam@10860000"},
                    {"awaited: every 3 s although unseen", [](ServiceRun& r) { return turns(r, 3); },
                     every("GET /session", 10863000, 10869000, 3000)},
                    {"linked: one last status",
                     [](ServiceRun& r) {
                         r.harness.setLinked(true, false);
                         return r.turn();
                     },
                     "GET /session@10872000"},
                    {"then at rest, unseen: nothing", waitsForever, ""},
                    {"a refresh asked for is still made",
                     [](ServiceRun& r) {
                         r.service.requestRefresh();
                         return r.turn();
                     },
                     "GET /session@10872000"},
                });
    EXPECT_TRUE(run.snapshot().steamLinked);
}

// A window of the test's own thread that only receives messages, standing in for the launcher's.
struct MessageWindow {
    static constexpr UINT kChanged = WM_APP + 7;
    HWND handle =
        CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ~MessageWindow() { DestroyWindow(handle); }
    // How many "a new snapshot waits" messages came since the last call.
    int told() {
        int count = 0;
        MSG msg;
        while (PeekMessageW(&msg, handle, kChanged, kChanged, PM_REMOVE))
            ++count;
        return count;
    }
};

// The window learns of every new snapshot without looking for one: a burst of them is one message, the
// next comes only once the window pulled, and nothing comes once it asked to hear no more.
TEST(LinkServiceNotify, OneMessageUntilTheWindowPulls) {
    MessageWindow window;
    ASSERT_NE(window.handle, nullptr);
    ServiceRun run;
    runScenario(
        run, {
                 {"start, no window yet", [&](ServiceRun& r) { return r.start() && window.told() == 0; },
                  "GET /config@0, POST /sessions@0, GET /session@0"},
                 {"asks after the first snapshots: told at once",
                  [&](ServiceRun& r) {
                      r.service.notifyOnChange(window.handle, MessageWindow::kChanged);
                      return window.told() == 1;
                  },
                  ""},
                 {"more snapshots, not pulled yet: nothing more", passTime, atRest(30000)},
                 {"", [&](ServiceRun&) { return window.told() == 0; }, ""},
                 {"pulled, nothing new: nothing",
                  [&](ServiceRun& r) { return r.service.pullSnapshot() && window.told() == 0; }, ""},
                 {"a burst of snapshots: one message", passTime, atRest(60000)},
                 {"", [&](ServiceRun&) { return window.told() == 1; }, ""},
                 {"the player's link request: one message, the page it brings none more",
                  [&](ServiceRun& r) { return r.service.pullSnapshot() && r.postAndTurn(LinkSteam); },
                  "POST /link/steam@60000"},
                 {"", [&](ServiceRun&) { return window.told() == 1; }, ""},
                 {"the page is there to pull",
                  [&](ServiceRun& r) {
                      return r.service.pullSnapshot() && narrow(r.service.browserUrl.c_str()) == kSteamPage;
                  },
                  ""},
                 {"linked in the browser: one message",
                  [&](ServiceRun& r) {
                      r.harness.setLinked(true, false);
                      return r.turn() && window.told() == 1;
                  },
                  "GET /session@63000"},
                 {"no window any more: nothing",
                  [&](ServiceRun& r) {
                      r.service.pullSnapshot();
                      r.service.notifyOnChange(nullptr, 0);
                      return r.turn() && r.turn() && window.told() == 0;
                  },
                  atRest(90000) + ", " + atRest(120000)},
             });
    EXPECT_TRUE(run.snapshot().steamLinked);
}

TEST(LinkServiceSchedule, NoStatusPollWithoutAConfiguration) {
    ServiceRun run;
    for (int i = 0; i < 3; ++i)
        run.harness.scriptReply("GET /config", {503});
    runScenario(
        run, {
                 {"start, configuration down", [](ServiceRun& r) { return r.start(); }, "GET /config@0"},
                 {"refresh",
                  [](ServiceRun& r) {
                      r.service.requestRefresh();
                      return r.turn();
                  },
                  ""},
                 {"retry, still down", [](ServiceRun& r) { return r.postAndTurn(Retry); }, "GET /config@0"},
                 {"still down", passTime, "GET /config@30000"},
                 {"back", passTime, "GET /config@60000, POST /sessions@60000, GET /session@60000"},
                 {"rest", passTime, atRest(90000)},
             });
}

TEST(LinkServiceSchedule, RefreshesAtMostOncePerSecond) {
    struct Case {
        uint64_t gap;
        std::string requests;
    };
    const Case cases[] = {{999, ""}, {1000, "GET /session@1000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gap);
        ServiceRun run;
        ASSERT_TRUE(run.start());
        run.requests();
        run.service.requestRefresh();
        ASSERT_TRUE(run.turn());
        EXPECT_EQ(run.requests(), "GET /session@0");
        run.harness.clock += c.gap;
        run.service.requestRefresh();
        ASSERT_TRUE(run.turn(0));
        EXPECT_EQ(run.requests(), c.requests);
    }
}

TEST(LinkServiceSession, ExpiredSessionIsReplacedOnce) {
    const std::string stored = tokenNumber(900);
    const std::string renewed = tokenNumber(1);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Reply>> script;
        std::string requests;
        std::vector<std::string> pollTokens;
        std::string fileToken; // empty: no session file
        std::wstring message;
    };
    const Reply expired{401};
    const Case cases[] = {
        {"renewed",
         {{"GET /session", expired}},
         "GET /config@0, GET /session@0, POST /sessions@0, GET /session@0",
         {stored, renewed},
         renewed,
         L""},
        {"401 without a readable body",
         {{"GET /session", {401, "", false, 13}}},
         "GET /config@0, GET /session@0, POST /sessions@0, GET /session@0",
         {stored, renewed},
         renewed,
         L""},
        {"renewal refused",
         {{"GET /session", expired}, {"POST /sessions", {503}}},
         "GET /config@0, GET /session@0, POST /sessions@0",
         {stored},
         "",
         kUnavailable},
        {"refused again after renewal",
         {{"GET /session", expired}, {"GET /session", expired}},
         "GET /config@0, GET /session@0, POST /sessions@0, GET /session@0",
         {stored, renewed},
         renewed,
         kExpired},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        ASSERT_TRUE(saveSessionToken(run.sessionFile().c_str(), stored));
        for (const auto& [route, reply] : c.script)
            run.harness.scriptReply(route, reply);
        ASSERT_TRUE(run.start());
        EXPECT_EQ(run.requests(), c.requests);
        EXPECT_EQ(run.tokensOf("GET /session"), c.pollTokens);
        EXPECT_EQ(exists(run.sessionFile()), !c.fileToken.empty());
        EXPECT_EQ(loadSessionToken(run.sessionFile().c_str()).view(), c.fileToken);
        EXPECT_EQ(run.snapshot().message, c.message);
        EXPECT_FALSE(run.snapshot().busy);
    }
}

// Signing out revokes the session at the service and leaves nothing of it on the computer: no new
// session is made (nor its file written) until the next player starts a link.
TEST(LinkServiceSession, LogoutRevokesAndLeavesNoSessionUntilTheNextLink) {
    ServiceRun run;
    run.harness.setLinked(true, false);
    ASSERT_TRUE(run.start());
    EXPECT_EQ(run.snapshot().steamName, L"Jugador");
    run.requests();
    run.harness.setLinked(false, false);
    ASSERT_TRUE(run.postAndTurn(Logout));
    EXPECT_EQ(run.requests(), "POST /logout@0");
    EXPECT_EQ(run.tokensOf("POST /logout"), std::vector<std::string>{tokenNumber(1)});
    EXPECT_FALSE(exists(run.sessionFile()));
    const LinkState& state = run.snapshot();
    EXPECT_FALSE(state.steamLinked);
    EXPECT_FALSE(state.discordLinked);
    EXPECT_EQ(state.steamName, L"");
    EXPECT_FALSE(state.busy);
    EXPECT_FALSE(state.ready);
    EXPECT_TRUE(state.configLoaded);
    EXPECT_EQ(state.message, L"");

    // The scheduled polls that follow ask nothing of a session that does not exist.
    ASSERT_TRUE(run.turn());
    EXPECT_EQ(run.requests(), "GET /config@30000");
    EXPECT_FALSE(exists(run.sessionFile()));

    // The next link makes a fresh session first, saved before it is used.
    ASSERT_TRUE(run.postAndTurn(LinkSteam));
    EXPECT_EQ(run.requests(), "POST /sessions@30000, GET /session@30000, POST /link/steam@30000");
    EXPECT_EQ(run.tokensOf("POST /link/steam").back(), tokenNumber(2));
    EXPECT_EQ(loadSessionToken(run.sessionFile().c_str()).view(), tokenNumber(2));
}

TEST(LinkServiceLink, OutcomesOfALinkAttempt) {
    const std::string http = "http://steamcommunity.com/openid/login?openid.mode=checkid_setup";
    struct Case {
        const char* what;
        bool steamLinked;
        uint32_t posted;
        std::string route;
        Reply reply;
        const wchar_t* message;
        std::string page; // handed to the browser; empty: none
    };
    const Case cases[] = {
        {"Steam page", false, LinkSteam, "", {}, L"", kSteamPage},
        {"Discord page", true, LinkDiscord, "", {}, L"", kDiscordPage},
        {"Steam account taken", false, LinkSteam, "POST /link/steam", {409}, kConflict, ""},
        {"Discord unavailable", true, LinkDiscord, "POST /link/discord", {503}, kDiscordMissing, ""},
        {"Steam unavailable", false, LinkSteam, "POST /link/steam", {503}, kUnavailable, ""},
        {"Steam redirect", false, LinkSteam, "POST /link/steam", {302}, kRedirect, ""},
        {"Discord page for Steam", false, LinkSteam, "POST /link/steam", document({{"url", kDiscordPage}}),
         kBadLinkUrl, ""},
        {"Steam page for Discord", true, LinkDiscord, "POST /link/discord", document({{"url", kSteamPage}}),
         kBadLinkUrl, ""},
        {"page holding the token", false, LinkSteam, "POST /link/steam",
         document({{"url", kSteamPage + "&openid.return_to={token}"}}), kBadLinkUrl, ""},
        {"plain http page", false, LinkSteam, "POST /link/steam", document({{"url", http}}), kBadLinkUrl, ""},
        {"no url", false, LinkSteam, "POST /link/steam", document({{"link", kSteamPage}}), kBadLinkUrl, ""},
        // Wine's shell overflows its own stack on about 1,000 characters: such a page never gets there.
        {"page of 900 characters", false, LinkSteam, "POST /link/steam",
         document({{"url", steamPageOfLength(900)}}), L"", steamPageOfLength(900)},
        {"page of 901 characters", false, LinkSteam, "POST /link/steam",
         document({{"url", steamPageOfLength(901)}}), kBadLinkUrl, ""},
        {"page of 1,000 characters", false, LinkSteam, "POST /link/steam",
         document({{"url", steamPageOfLength(1000)}}), kBadLinkUrl, ""},
        {"page of 4,096 characters", false, LinkSteam, "POST /link/steam",
         document({{"url", steamPageOfLength(4096)}}), kBadLinkUrl, ""},
        {"page of 8,192 characters", false, LinkSteam, "POST /link/steam",
         document({{"url", steamPageOfLength(8192)}}), kBadLinkUrl, ""},
        {"page breaking the browser's quoting", false, LinkSteam, "POST /link/steam",
         document({{"url", kSteamPage + "&a=\"%20--new-window%20\"https://x/"}}), kBadLinkUrl, ""},
        {"configuration unavailable", false, Retry, "GET /config", {503}, kUnavailable, ""},
        {"configuration redirected", false, Retry, "GET /config", {302}, kRedirect, ""},
        {"configuration unreadable", false, Retry, "GET /config", document({{"news", 1}}),
         L"La configuración del servicio no es válida.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        run.harness.setLinked(c.steamLinked, false);
        ASSERT_TRUE(run.start());
        if (!c.route.empty())
            run.harness.scriptReply(c.route, c.reply);
        ASSERT_TRUE(run.postAndTurn(c.posted));
        const LinkState& state = run.snapshot();
        EXPECT_EQ(state.message, c.message);
        EXPECT_EQ(narrow(run.service.browserUrl.c_str()), c.page);
        EXPECT_EQ(state.linkPending, !c.page.empty());
        EXPECT_FALSE(state.busy);
        EXPECT_FALSE(state.ready);
        // The page is handed over once.
        run.service.browserUrl.clear();
        ASSERT_TRUE(run.turn());
        EXPECT_TRUE(run.service.pullSnapshot());
        EXPECT_EQ(run.service.browserUrl, L"");
    }
}

TEST(LinkServiceLink, FailedLinkTextStaysUntilLinkedOrThePlayerActs) {
    struct Case {
        const char* what;
        std::function<bool(ServiceRun&)> resolve;
    };
    const Case cases[] = {
        {"Steam becomes linked",
         [](ServiceRun& r) {
             r.harness.setLinked(true, false);
             return r.turn();
         }},
        {"player retries", [](ServiceRun& r) { return r.postAndTurn(Retry) && r.turn(); }},
        {"player links again", [](ServiceRun& r) { return r.postAndTurn(LinkSteam) && r.turn(); }},
        {"player logs out", [](ServiceRun& r) { return r.postAndTurn(Logout) && r.turn(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        ASSERT_TRUE(run.start());
        run.harness.scriptReply("POST /link/steam", {409});
        ASSERT_TRUE(run.postAndTurn(LinkSteam));
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_EQ(run.snapshot().message, kConflict) << "pass " << pass;
            ASSERT_TRUE(run.turn());
        }
        EXPECT_EQ(run.requests(), "GET /config@0, POST /sessions@0, GET /session@0, POST /link/steam@0, " +
                                      atRest(30000) + ", " + atRest(60000) + ", " + atRest(90000));
        EXPECT_EQ(run.snapshot().message, kConflict);
        ASSERT_TRUE(c.resolve(run));
        EXPECT_EQ(run.snapshot().message, L"");
    }
}

TEST(LinkServiceLink, AuthorisationTimesOutJustOverTenMinutes) {
    struct Case {
        uint64_t elapsed;
        bool timedOut;
    };
    const Case cases[] = {{600000, false}, {600001, true}, {900000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.elapsed);
        ServiceRun run;
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.postAndTurn(LinkSteam));
        ASSERT_TRUE(run.snapshot().linkPending);
        run.harness.clock = kStart + c.elapsed;
        ASSERT_TRUE(run.turn(0));
        EXPECT_EQ(run.snapshot().linkPending, !c.timedOut);
        EXPECT_EQ(run.snapshot().message, c.timedOut ? kTimedOut : L"");
        if (c.timedOut) {
            // The notice outlives the next poll.
            ASSERT_TRUE(run.turn());
            EXPECT_EQ(run.snapshot().message, kTimedOut);
        }
    }
}

TEST(LinkServicePost, RefusesLinksTheSnapshotRulesOut) {
    struct Case {
        const char* what;
        bool configDown;
        bool steamLinked;
        bool discordLinked;
        bool discordEnabled;
        bool busy;
        uint32_t bits;
        bool accepted;
    };
    const Case cases[] = {
        {"Discord before Steam", false, false, false, true, false, LinkDiscord, false},
        {"Discord not enabled", false, true, false, false, false, LinkDiscord, false},
        {"Discord while busy", false, true, false, true, true, LinkDiscord, false},
        {"Discord already linked", false, true, true, true, false, LinkDiscord, false},
        {"Discord", false, true, false, true, false, LinkDiscord, true},
        {"Steam already linked", false, true, false, true, false, LinkSteam, false},
        {"Steam without configuration", true, false, false, true, false, LinkSteam, false},
        {"Steam while busy", false, false, false, true, true, LinkSteam, false},
        {"Steam", false, false, false, true, false, LinkSteam, true},
        {"both while Steam linked", false, true, false, true, false, LinkSteam | LinkDiscord, false},
        {"retry without configuration", true, false, false, true, false, Retry, true},
        {"retry while busy", false, false, false, true, true, Retry, true},
        {"retry when all linked", false, true, true, true, false, Retry, true},
        {"logout", false, true, true, true, false, Logout, true},
        {"no known request", false, false, false, true, false, 64, false},
        {"nothing", false, false, false, true, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        run.harness.setLinked(c.steamLinked, c.discordLinked);
        run.harness.discordEnabled = c.discordEnabled;
        if (c.configDown)
            run.harness.scriptReply("GET /config", {503});
        ASSERT_TRUE(run.start());
        if (c.busy) {
            ASSERT_TRUE(run.holdAt("GET /config", Retry));
        }
        run.requests();
        EXPECT_EQ(run.service.post(c.bits), c.accepted);
        if (c.busy) {
            SetEvent(run.harness.release);
            ASSERT_TRUE(run.settled());
        }
        if (!c.accepted) {
            ASSERT_TRUE(run.turn(0));
            const std::string expected = c.busy ? "GET /config@0, GET /session@0" : "";
            EXPECT_EQ(run.requests(), expected) << "a refused request must not be queued";
        }
    }
}

TEST(LinkServiceStop, ReturnsPromptlyAndPublishesNothingMore) {
    struct Case {
        const char* what;
        bool transportHonoursCancel;
    };
    const Case cases[] = {{"request cancelled", true}, {"request that ignores the cancel", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.holdAt("POST /link/steam", LinkSteam, c.transportHonoursCancel));
        LinkServiceState* shared = run.service.shared;
        acquireLinkServiceState(shared);
        uint64_t before = 0;
        {
            LinkStateLock lock(*shared);
            before = shared->version;
        }
        const ULONGLONG began = GetTickCount64();
        run.service.stop();
        EXPECT_LT(GetTickCount64() - began, 250u);
        if (!c.transportHonoursCancel)
            SetEvent(run.harness.release);
        EXPECT_TRUE(run.finished(2000));
        {
            LinkStateLock lock(*shared);
            EXPECT_EQ(shared->version, before);
            EXPECT_EQ(shared->browserUrl, L"");
            EXPECT_FALSE(shared->state.linkPending);
        }
        releaseLinkServiceState(shared);
        EXPECT_FALSE(run.service.post(Retry));
    }
}

TEST(LinkServiceLink, AnAwaitedAuthorisationEndsWithItsSession) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Reply>> script;
        uint32_t posted; // after the link request; 0: none
        const wchar_t* message;
        std::string next; // the requests of the pass after
    };
    const Case cases[] = {
        {"session renewed", {{"GET /session", {401}}}, 0, L"", atRest(30000)},
        {"renewal refused",
         {{"GET /session", {401}}, {"POST /sessions", {503}}},
         0,
         kUnavailable,
         "GET /config@30000, POST /sessions@30000, GET /session@30000"},
        {"player logs out", {}, Logout, L"", "GET /config@30000"}, // signed out: no session to ask about
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceRun run;
        run.harness.setLinked(true, false);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.postAndTurn(LinkDiscord));
        ASSERT_TRUE(run.snapshot().linkPending);
        // The service forgets the old session's links.
        run.harness.setLinked(false, false);
        for (const auto& [route, reply] : c.script)
            run.harness.scriptReply(route, reply);
        ASSERT_TRUE(c.posted != 0 ? run.postAndTurn(c.posted) : run.turn(3000));
        const LinkState& state = run.snapshot();
        EXPECT_FALSE(state.linkPending);
        EXPECT_FALSE(state.ready);
        EXPECT_EQ(state.message, c.message);
        // The links belonged to the session that is gone.
        EXPECT_FALSE(state.steamLinked);
        EXPECT_EQ(state.steamName, L"");
        // Nothing is awaited any more: back to the 30 s cadence, and no time-out notice later.
        run.requests();
        ASSERT_TRUE(run.turn());
        EXPECT_EQ(run.requests(), c.next);
        run.harness.clock = kStart + 900000;
        ASSERT_TRUE(run.turn(0));
        EXPECT_NE(run.snapshot().message, kTimedOut);
    }
}

TEST(LinkServiceReadiness, DiscordIsRequiredOnlyWhileTheServiceEnablesIt) {
    ServiceRun run;
    run.harness.setLinked(true, false);
    run.harness.discordEnabled = false;
    ASSERT_TRUE(run.start());
    EXPECT_TRUE(run.snapshot().ready);
    // The service turns Discord on: the configuration alone withdraws readiness, before any status.
    run.harness.discordEnabled = true;
    run.harness.holdRoute = "GET /session";
    ReleaseSemaphore(run.harness.go, 1, nullptr);
    ASSERT_EQ(WaitForSingleObject(run.harness.held, kPatienceMs), WAIT_OBJECT_0);
    EXPECT_FALSE(run.snapshot().ready);
    EXPECT_TRUE(run.snapshot().discordEnabled);
    SetEvent(run.harness.release);
    ASSERT_TRUE(run.settled());
    EXPECT_FALSE(run.snapshot().ready);
    run.harness.holdRoute.clear();
    run.harness.setLinked(true, true);
    ASSERT_TRUE(run.turn());
    EXPECT_TRUE(run.snapshot().ready);
}

TEST(LinkServiceStop, AWorkerThatEndsUnaskedSaysSoAndRefusesRequests) {
    ServiceRun run;
    ASSERT_TRUE(run.start());
    run.requests();
    run.harness.waitFails = true;
    ReleaseSemaphore(run.harness.go, 1, nullptr);
    ASSERT_TRUE(run.finished());
    const LinkState& state = run.snapshot();
    EXPECT_EQ(state.message, kCouldNotStart);
    EXPECT_FALSE(state.busy);
    EXPECT_FALSE(state.ready);
    for (uint32_t bits : {Retry, LinkSteam, Logout})
        EXPECT_FALSE(run.service.post(bits)) << bits;
    run.service.requestRefresh();
    EXPECT_FALSE(run.service.pullSnapshot());
    EXPECT_EQ(run.requests(), "");
}
