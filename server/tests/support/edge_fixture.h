#pragma once
// The real edge over real TLS (or plain HTTP) on a loopback port, serving the fixture's service, with its
// log lines and metrics kept for the test.
#include "http/edge.h"
#include "http/metrics.h"
#include "support/service_fixture.h"
#include "support/test_client.h"
#include "support/throwaway_certificate.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct EdgeTest : ServiceFixture {
    CertificateFiles certificate;
    std::shared_ptr<Edge> edge;
    std::mutex logLock;
    std::vector<std::string> logLines;
    Metrics metrics;

    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_TRUE(makeThrowawayCertificate(folder.path.string(), certificate));
    }
    void TearDown() override {
        if (edge)
            stopEdge(*edge);
    }

    void startEdgeWith(EdgeOptions options) {
        options.address = "127.0.0.1";
        EdgeHooks hooks;
        hooks.handle = [this](const Request& request) { return handleRequest(service, request, nowMs); };
        hooks.blocks = callsProvider;
        hooks.busy = [](const Request&) { return providersBusyPage(); };
        hooks.answered = [this](const std::string& route, int status, double seconds,
                                const std::string& reason) {
            recordAnswer(metrics, route, status, seconds, reason);
        };
        hooks.log = [this](const std::string& line) {
            std::lock_guard guard(logLock);
            logLines.push_back(line);
        };
        std::string error;
        edge = startEdge(options, hooks, error);
        ASSERT_TRUE(edge) << error;
    }
    void startTls(int readSeconds = 15) {
        EdgeOptions options;
        options.certificateFile = certificate.certificate;
        options.privateKeyFile = certificate.privateKey;
        options.readSeconds = readSeconds;
        startEdgeWith(options);
    }
    std::unique_ptr<TestClient> client() {
        auto made = std::make_unique<TestClient>(edgePort(*edge), certificate.certificate);
        EXPECT_TRUE(made->connected());
        return made;
    }
    std::vector<std::string> log() {
        std::lock_guard guard(logLock);
        return logLines;
    }
};

inline const std::map<std::string, std::string> LauncherHeaders = {{"Accept", "application/json"},
                                                                   {"Content-Type", "application/json"}};
