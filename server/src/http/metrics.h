#pragma once
// The service's metrics in the Prometheus text format, on their own loopback port: requests by route and
// status, latency by route, live sessions and links, failed provider calls by provider, and the edge's
// connections, descriptors and memory beside their bounds.
#include "contract/provider_calls.h"
#include "http/edge.h"
#include "storage/link_store.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

// Upper bounds, in seconds, of the latency histogram's buckets (+Inf follows).
inline constexpr std::array<double, 11> kLatencyBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                           0.5,   1.0,  2.5,   5.0,  10.0};

struct LatencyHistogram {
    std::array<std::uint64_t, kLatencyBuckets.size()> buckets{}; // each counts only its own band
    std::uint64_t count = 0;
    double sum = 0;
};

struct Metrics {
    std::mutex lock;
    std::map<std::pair<std::string, int>, std::uint64_t> requests; // (route, status)
    std::map<std::string, LatencyHistogram> latency;               // by route
    std::map<std::tuple<std::string, std::string, std::string>, std::uint64_t>
        providerFailures;                                                 // (provider, kind, reason)
    std::map<std::pair<std::string, std::string>, std::uint64_t> reasons; // (route, reason kind)
    std::shared_ptr<Edge> served; // the players' edge, once it listens; its connections are counted
};

void recordAnswer(Metrics& metrics, const std::string& route, int status, double seconds,
                  const std::string& reason = {});
void recordProviderResult(Metrics& metrics, const std::string& provider, const ProviderResult& result);

// The same calls, counting every failed verification by provider and kind (refused, cancelled, unreachable).
ProviderCalls countingFailures(ProviderCalls calls, Metrics& metrics);

// The whole exposition; counts is null when the store could not count.
std::string metricsText(Metrics& metrics, const StoreCounts* counts);

// Serves GET /metrics in plain HTTP on a loopback address; sessions and links are counted at each scrape.
std::shared_ptr<Edge> startMetricsEdge(const std::string& address, std::uint16_t port, Metrics& metrics,
                                       LinkStore& store, std::string& error);
