// What an operator relies on while the service runs: a stop that still answers the requests in flight, a
// certificate replaced without a restart, and metrics a Prometheus server can read.
#include "support/edge_fixture.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// serveUntilSignal on a thread of its own; signals are sent only once it catches them.
struct SignalledEdge {
    std::promise<void> ready; // outlives the thread's set_value
    std::thread thread;
    void start(Edge& edge, std::function<void()> hangup = {}) {
        thread = std::thread([this, &edge, hangup] {
            serveUntilSignal(
                edge, [this] { ready.set_value(); }, hangup);
        });
        ready.get_future().wait();
    }
    void stop() {
        if (!thread.joinable())
            return;
        kill(getpid(), SIGTERM);
        thread.join();
    }
    ~SignalledEdge() { stop(); }
};

// Callbacks queue for the provider threads up to provider_queue; past it the browser is told at once to
// reload (its state unspent, so the reload links), and players' other requests never wait.
TEST_F(EdgeTest, AFullProviderQueueAnswersAtOnceAndSpendsNothing) {
    EdgeOptions options;
    options.certificateFile = certificate.certificate;
    options.privateKeyFile = certificate.privateKey;
    options.providerThreads = 1;
    options.providerQueue = 2;
    startEdgeWith(options);
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    const auto verify = service.providers.verifySteam;
    std::atomic<int> calls{0};
    service.providers.verifySteam = [&](const QueryParams& query, const std::string& returnTo,
                                        std::int64_t now, NonceLedger& nonces) {
        if (calls++ == 0) {
            entered.set_value();
            released.wait(); // Steam hanging on the first callback
        }
        return verify(query, returnTo, now, nonces);
    };
    const auto callbackOf = [&](const std::string& steamId) {
        const std::string state = startLink(newSession(), "steam", "127.0.0.1");
        script.nextSteam = providerAccount(steamId, "x");
        return BasePath + "/callback/steam?state=" + state + "&openid.mode=id_res";
    };
    const std::string first = callbackOf("76561198000000001");
    auto hanging = std::async(std::launch::async, [&] { return client()->request("GET", first); });
    entered.get_future().wait();
    const std::string second = callbackOf("76561198000000002");
    auto queued = std::async(std::launch::async, [&] { return client()->request("GET", second); });
    for (int wait = 0; wait < 1000 && edgeCounts(*edge).providerWaiting < 2; ++wait)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(edgeCounts(*edge).providerWaiting, 2);
    // The queue holds the hanging callback and the one behind it: the next is turned away at once.
    const std::string third = callbackOf("76561198000000003");
    const Reply busy = client()->request("GET", third);
    EXPECT_EQ(busy.status, 503);
    EXPECT_NE(busy.body.find("recargando esta página"), std::string::npos);
    EXPECT_EQ(client()->request("GET", BasePath + "/config").status, 200);
    release.set_value();
    EXPECT_EQ(hanging.get().status, 200);
    EXPECT_EQ(queued.get().status, 200);
    // Nothing of the turned-away callback was spent: the same address links now.
    EXPECT_EQ(client()->request("GET", third).status, 200);
    EXPECT_EQ(edgeCounts(*edge).providerQueueFull, 1);
}

TEST_F(EdgeTest, ARequestInFlightWhenTheStopSignalArrivesIsStillAnswered) {
    startTls();
    const std::string token = newSession();
    const std::string state = startLink(token, "steam", "127.0.0.1"); // the browser comes over loopback
    script.nextSteam = providerAccount("76561198000000001", "Ana");
    std::promise<void> entered;
    const auto verify = service.providers.verifySteam;
    service.providers.verifySteam = [&](const QueryParams& query, const std::string& returnTo,
                                        std::int64_t now, NonceLedger& nonces) {
        entered.set_value();
        std::this_thread::sleep_for(1500ms); // Steam taking its time
        return verify(query, returnTo, now, nonces);
    };
    SignalledEdge serving;
    serving.start(*edge);
    auto slow = std::async(std::launch::async, [&] {
        return client()->request("GET", BasePath + "/callback/steam?state=" + state + "&openid.mode=id_res");
    });
    entered.get_future().wait();
    serving.stop();
    const Reply answer = slow.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_FALSE(answer.keepAlive);
    EXPECT_EQ(status(token)["steam"]["id"], "76561198000000001");
    // Nothing is accepted any more.
    EXPECT_FALSE(TestClient(edgePort(*edge), certificate.certificate).connected());
}

void copyPair(const CertificateFiles& from, const CertificateFiles& to) {
    for (const auto& [source, target] :
         {std::pair{from.certificate, to.certificate}, {from.privateKey, to.privateKey}})
        std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
}

TEST_F(EdgeTest, SighupServesANewCertificateToNewConnectionsAndRefusesABadPair) {
    CertificateFiles second;
    const std::filesystem::path other = folder.path / "second";
    std::filesystem::create_directory(other);
    ASSERT_TRUE(makeThrowawayCertificate(other.string(), second));
    const CertificateFiles live = {folder.file("live.crt"), folder.file("live.key")};
    copyPair(certificate, live);
    EdgeOptions options;
    options.certificateFile = live.certificate;
    options.privateKeyFile = live.privateKey;
    startEdgeWith(options);
    SignalledEdge serving;
    serving.start(*edge);
    const auto trusts = [&](const std::string& ca) { return TestClient(edgePort(*edge), ca).connected(); };
    ASSERT_TRUE(trusts(certificate.certificate));
    ASSERT_FALSE(trusts(second.certificate));
    auto before = client(); // a connection made before the reload keeps its certificate and is served

    copyPair(second, live);
    kill(getpid(), SIGHUP);
    const auto logged = [&](const std::string& event) {
        for (int i = 0; i < 1000; ++i) {
            for (const std::string& line : log())
                if (line.find("\"event\":\"" + event + "\"") != std::string::npos)
                    return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    };
    ASSERT_TRUE(logged("certificate_reloaded"));
    EXPECT_TRUE(trusts(second.certificate));
    EXPECT_FALSE(trusts(certificate.certificate));
    EXPECT_EQ(before->request("GET", BasePath + "/config").status, 200);

    // The first certificate with the second key: refused, and the second pair goes on serving.
    std::filesystem::copy_file(certificate.certificate, live.certificate,
                               std::filesystem::copy_options::overwrite_existing);
    kill(getpid(), SIGHUP);
    ASSERT_TRUE(logged("certificate_refused"));
    EXPECT_TRUE(trusts(second.certificate));
    EXPECT_FALSE(trusts(certificate.certificate));
}

// Behind a proxy there is no certificate: SIGHUP reloads the configuration alone, and a document the launcher
// could not read is refused with the one in use kept.
TEST_F(EdgeTest, SighupInPlainHttpRunsTheReloadWithoutACertificateEvent) {
    startEdgeWith(EdgeOptions{});
    std::promise<bool> reloaded;
    SignalledEdge serving;
    serving.start(*edge, [&] {
        ServiceConfig changed = settingsOf(service)->config;
        changed.communityUrl = "https://example.org/nueva";
        reloaded.set_value(replaceSettings(service, changed));
    });
    kill(getpid(), SIGHUP);
    auto done = reloaded.get_future();
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(done.get());
    const auto config = [&] {
        return handleRequest(service, {"GET", BasePath + "/config", "", "", "", ""}, nowMs);
    };
    EXPECT_NE(config().body.find("https://example.org/nueva"), std::string::npos);
    for (const std::string& line : log())
        EXPECT_EQ(line.find("certificate"), std::string::npos) << line;

    ServiceConfig tooLong = settingsOf(service)->config;
    tooLong.news.assign(40, NewsItem{1, "Noticia", std::string(4000, 'x'), "2026-10-08T17:00:00Z"});
    EXPECT_FALSE(replaceSettings(service, tooLong));
    EXPECT_NE(config().body.find("https://example.org/nueva"), std::string::npos);
}

// A refused pair says which of the three it is: a file not there or not readable, a file that is no PEM
// certificate or key, or a key that is not the certificate's.
TEST_F(EdgeTest, ARefusedCertificatePairSaysWhy) {
    CertificateFiles second;
    const std::filesystem::path other = folder.path / "second";
    std::filesystem::create_directory(other);
    ASSERT_TRUE(makeThrowawayCertificate(other.string(), second));
    const std::string garbage = folder.file("garbage.pem");
    std::ofstream(garbage) << "-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n";
    struct Case {
        std::string certificate, key, reason;
    };
    const Case cases[] = {
        {certificate.certificate, second.privateKey, "does not match the certificate"},
        {garbage, certificate.privateKey, "cannot parse " + garbage + " as a PEM certificate chain"},
        {certificate.certificate, garbage, "cannot parse " + garbage + " as a PEM private key"},
        {certificate.certificate, certificate.certificate, "as a PEM private key"},
        {folder.file("missing.pem"), certificate.privateKey, "No such file or directory"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(checkTlsFiles(c.certificate, c.key, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    std::string error;
    EXPECT_TRUE(checkTlsFiles(second.certificate, second.privateKey, error)) << error;
}

// One scrape, checked line by line against the text exposition format.
struct Scrape {
    std::map<std::string, std::string> types; // family -> counter, gauge, histogram
    std::map<std::string, double> samples;    // name{labels} -> value
    std::vector<std::string> problems;
};

Scrape parseExposition(const std::string& text) {
    static const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) \S.*)");
    static const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram))");
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="[^"\\\n]*"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\\n]*")*\})? ([-+]?(\d+(\.\d*)?|\.\d+)([eE][-+]?\d+)?|\+Inf|NaN))");
    Scrape scrape;
    std::set<std::string> helped;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    if (text.empty() || text.back() != '\n')
        scrape.problems.push_back("the text does not end with a line break");
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, help)) {
            helped.insert(m[1]);
        } else if (std::regex_match(line, m, type)) {
            if (!helped.count(m[1]) || scrape.types.count(m[1]))
                scrape.problems.push_back("TYPE without HELP before it, or twice: " + line);
            scrape.types[m[1]] = m[2];
        } else if (std::regex_match(line, m, sample)) {
            std::string family = m[1];
            for (const std::string suffix : {"_bucket", "_sum", "_count"}) {
                const std::string base =
                    family.substr(0, family.size() - std::min(family.size(), suffix.size()));
                const auto histogram = scrape.types.find(base);
                if (!scrape.types.count(family) && family.ends_with(suffix) &&
                    histogram != scrape.types.end() && histogram->second == "histogram")
                    family = base;
            }
            if (!scrape.types.count(family))
                scrape.problems.push_back("a sample of a family with no TYPE before it: " + line);
            if (scrape.samples.count(m[1].str() + m[2].str()))
                scrape.problems.push_back("a sample given twice: " + line);
            scrape.samples[m[1].str() + m[2].str()] = m[4] == "+Inf" ? INFINITY : std::stod(m[4]);
        } else {
            scrape.problems.push_back("not a HELP, TYPE or sample line: " + line);
        }
    }
    return scrape;
}

// Every histogram's buckets for one route: bounds rising, counts never falling, +Inf equal to _count.
void expectSoundHistogram(const Scrape& scrape, const std::string& family, const std::string& route,
                          double expectedCount) {
    SCOPED_TRACE(route);
    const std::regex bucket(family + R"re(_bucket\{route="([^"]*)",le="([^"]*)"\})re");
    std::vector<std::pair<double, double>> buckets;
    for (const auto& [name, value] : scrape.samples) {
        std::smatch m;
        if (std::regex_match(name, m, bucket) && m[1] == route)
            buckets.push_back({m[2] == "+Inf" ? INFINITY : std::stod(m[2]), value});
    }
    std::sort(buckets.begin(), buckets.end());
    ASSERT_GE(buckets.size(), 2u);
    EXPECT_EQ(buckets.back().first, INFINITY);
    for (std::size_t i = 1; i < buckets.size(); ++i)
        EXPECT_LE(buckets[i - 1].second, buckets[i].second) << "le=" << buckets[i].first;
    const std::string labels = "{route=\"" + route + "\"}";
    ASSERT_TRUE(scrape.samples.count(family + "_count" + labels));
    EXPECT_EQ(buckets.back().second, scrape.samples.at(family + "_count" + labels));
    EXPECT_EQ(buckets.back().second, expectedCount);
    EXPECT_TRUE(scrape.samples.count(family + "_sum" + labels));
}

TEST_F(EdgeTest, TheMetricsPortCountsRequestsByRouteLatencySessionsLinksAndProviderFailures) {
    service.providers = countingFailures(service.providers, metrics);
    startTls();
    metrics.served = edge;
    std::string error;
    const std::shared_ptr<Edge> metricsEdge = startMetricsEdge("127.0.0.1", 0, metrics, *store, error);
    ASSERT_TRUE(metricsEdge) << error;
    const std::string linked = newSession();
    ASSERT_EQ(linkSteam(linked, "76561198000000001").status, 200);

    auto connection = client();
    EXPECT_EQ(connection->request("POST", BasePath + "/sessions", LauncherHeaders, "{}").status, 201);
    EXPECT_EQ(connection->request("GET", BasePath + "/config").status, 200);
    EXPECT_EQ(connection->request("GET", BasePath + "/config").status, 200);
    EXPECT_EQ(connection->request("GET", BasePath + "/nothing/here").status, 404);
    EXPECT_EQ(connection->request("GET", BasePath + "/admin/players/76561198000000001").status, 401);
    const std::string state = startLink(newSession(), "steam");
    script.nextSteam = ProviderResult{ProviderFailure::Unreachable, {}, "timeout", "steam_unreachable"};
    EXPECT_EQ(client()->request("GET", BasePath + "/callback/steam?state=" + state).status, 502);

    TestClient scraper(edgePort(*metricsEdge), "");
    const Reply scraped = scraper.request("GET", "/metrics");
    ASSERT_EQ(scraped.status, 200);
    EXPECT_EQ(scraped.headers.at("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const Scrape scrape = parseExposition(scraped.body);
    EXPECT_TRUE(scrape.problems.empty()) << ::testing::PrintToString(scrape.problems) << scraped.body;
    EXPECT_EQ(scraped.body.find("/orvane-launcher"), std::string::npos) << "raw paths are not labels";

    const std::pair<const char*, double> expected[] = {
        {R"(orvane_requests_total{route="sessions",status="201"})", 1},
        {R"(orvane_requests_total{route="config",status="200"})", 2},
        {R"(orvane_requests_total{route="other",status="404"})", 1},
        {R"(orvane_requests_total{route="admin/players",status="401"})", 1},
        {R"(orvane_requests_total{route="callback/steam",status="502"})", 1},
        {R"(orvane_provider_failures_total{provider="steam",kind="unreachable",reason="steam_unreachable"})",
         1},
        {R"(orvane_callback_outcomes_total{route="callback/steam",reason="steam_unreachable"})", 1},
        {"orvane_store_up", 1},
        {"orvane_sessions", 3},
        {"orvane_links", 1},
        {R"(orvane_connections_refused_total{cap="max_connections_per_address"})", 0},
        {"orvane_handshake_timeouts_total", 0},
        {R"(orvane_bound{name="max_connections"})", edgeOptions(*edge).maxConnections},
        {R"(orvane_bound{name="handshake_seconds"})", edgeOptions(*edge).handshakeSeconds},
        {"process_max_fds", static_cast<double>(descriptorLimit())},
    };
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(scrape.samples.count(name)) << name << "\n" << scraped.body;
        EXPECT_EQ(scrape.samples.at(name), value) << name;
    }
    EXPECT_EQ(scrape.types.at("orvane_request_duration_seconds"), "histogram");
    // The kept-alive connection is held; the process's own descriptors and memory are read.
    EXPECT_GE(scrape.samples.at("orvane_connections_open"), 1);
    EXPECT_GT(scrape.samples.at("process_open_fds"), 0);
    EXPECT_GT(scrape.samples.at("process_resident_memory_bytes"), 0);
    expectSoundHistogram(scrape, "orvane_request_duration_seconds", "config", 2);
    expectSoundHistogram(scrape, "orvane_request_duration_seconds", "callback/steam", 1);

    EXPECT_EQ(scraper.request("GET", "/").status, 404);
    EXPECT_EQ(scraper.request("POST", "/metrics").status, 405);
    stopEdge(*metricsEdge);
}

TEST(Metrics, DurationsFallInTheFirstBucketWhoseBoundHoldsThem) {
    struct Case {
        double seconds;
        const char* firstBucket; // the lowest le that counts it; "+Inf" past the last bound
    };
    const Case cases[] = {{0.0, "0.005"}, {0.005, "0.005"}, {0.0051, "0.01"},
                          {0.3, "0.5"},   {10.0, "10"},     {10.5, "+Inf"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        Metrics metrics;
        recordAnswer(metrics, "config", 200, c.seconds);
        const Scrape scrape = parseExposition(metricsText(metrics, nullptr));
        EXPECT_TRUE(scrape.problems.empty()) << ::testing::PrintToString(scrape.problems);
        EXPECT_EQ(scrape.samples.at("orvane_store_up"), 0);
        EXPECT_FALSE(scrape.samples.count("orvane_sessions"));
        bool reached = false;
        for (const double bound : kLatencyBuckets) {
            char le[32];
            std::snprintf(le, sizeof le, "%g", bound);
            reached = reached || std::string(le) == c.firstBucket;
            EXPECT_EQ(scrape.samples.at("orvane_request_duration_seconds_bucket{route=\"config\",le=\"" +
                                        std::string(le) + "\"}"),
                      reached ? 1 : 0)
                << le;
        }
        EXPECT_EQ(scrape.samples.at(R"(orvane_request_duration_seconds_bucket{route="config",le="+Inf"})"),
                  1);
        EXPECT_DOUBLE_EQ(scrape.samples.at(R"(orvane_request_duration_seconds_sum{route="config"})"),
                         c.seconds);
    }
}

} // namespace
