#include "http/metrics.h"

#include <charconv>
#include <chrono>

namespace {

const char* failureKind(ProviderFailure failure) {
    switch (failure) {
    case ProviderFailure::Refused:
        return "refused";
    case ProviderFailure::Cancelled:
        return "cancelled";
    case ProviderFailure::Unreachable:
        return "unreachable";
    case ProviderFailure::None:
        break;
    }
    return "none";
}

// Prometheus' float text: the shortest that reads back the same.
std::string number(double value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

void header(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& out, const char* name, std::int64_t value) {
    out += std::string(name) + " " + std::to_string(value) + "\n";
}

void processText(std::string& out) {
    header(out, "process_open_fds", "gauge", "Open file descriptors.");
    sample(out, "process_open_fds", openDescriptors());
    header(out, "process_max_fds", "gauge", "The file descriptor limit.");
    sample(out, "process_max_fds", descriptorLimit());
    header(out, "process_resident_memory_bytes", "gauge", "Resident memory.");
    sample(out, "process_resident_memory_bytes", residentBytes());
}

// The players' edge: connections held, refused at a cap or cut at a deadline, and the bounds themselves.
void connectionsText(std::string& out, Edge& edge) {
    const EdgeCounts counts = edgeCounts(edge);
    const EdgeOptions& options = edgeOptions(edge);
    header(out, "orvane_connections_open", "gauge", "Connections held now.");
    sample(out, "orvane_connections_open", counts.open);
    header(out, "orvane_connections_refused_total", "counter",
           "New connections closed at once, by the cap they met.");
    out += "orvane_connections_refused_total{cap=\"max_connections\"} " +
           std::to_string(counts.refusedMaxConnections) + "\n";
    out += "orvane_connections_refused_total{cap=\"max_connections_per_address\"} " +
           std::to_string(counts.refusedPerAddress) + "\n";
    header(out, "orvane_handshake_timeouts_total", "counter",
           "Connections closed for not finishing the TLS handshake within handshake_seconds.");
    sample(out, "orvane_handshake_timeouts_total", counts.handshakeTimeouts);
    header(out, "orvane_request_timeouts_total", "counter",
           "Connections closed for not finishing a request within request_seconds.");
    sample(out, "orvane_request_timeouts_total", counts.requestTimeouts);
    header(out, "orvane_accept_failures_total", "counter", "Connections the kernel could not hand over.");
    sample(out, "orvane_accept_failures_total", counts.acceptFailures);
    header(out, "orvane_provider_queue", "gauge",
           "Callbacks waiting for or in a call to Steam or Discord now.");
    sample(out, "orvane_provider_queue", counts.providerWaiting);
    header(
        out, "orvane_provider_queue_full_total", "counter",
        "Callbacks answered \"try again\" because provider_queue others were waiting on Steam or Discord.");
    sample(out, "orvane_provider_queue_full_total", counts.providerQueueFull);
    header(out, "orvane_bound", "gauge", "Each bound in force, by its configuration name.");
    const std::pair<const char*, std::int64_t> bounds[] = {
        {"max_connections", options.maxConnections},
        {"max_connections_per_address", options.maxConnectionsPerAddress},
        {"handshake_seconds", options.handshakeSeconds},
        {"request_seconds", options.readSeconds},
        {"header_bytes", static_cast<std::int64_t>(edge_limits::HeaderBytes)},
        {"body_bytes", static_cast<std::int64_t>(edge_limits::BodyBytes)},
        {"provider_queue", options.providerQueue},
    };
    for (const auto& [name, value] : bounds)
        out += std::string("orvane_bound{name=\"") + name + "\"} " + std::to_string(value) + "\n";
}

} // namespace

void recordAnswer(Metrics& metrics, const std::string& route, int status, double seconds,
                  const std::string& reason) {
    std::lock_guard guard(metrics.lock);
    ++metrics.requests[{route, status}];
    if (!reason.empty())
        ++metrics.reasons[{route, reason}];
    LatencyHistogram& histogram = metrics.latency[route];
    std::size_t band = 0;
    while (band < kLatencyBuckets.size() && seconds > kLatencyBuckets[band])
        ++band;
    if (band < kLatencyBuckets.size())
        ++histogram.buckets[band];
    ++histogram.count;
    histogram.sum += seconds;
}

void recordProviderResult(Metrics& metrics, const std::string& provider, const ProviderResult& result) {
    if (result.failure == ProviderFailure::None)
        return;
    std::lock_guard guard(metrics.lock);
    ++metrics.providerFailures[{provider, failureKind(result.failure),
                                std::string(result.kind.empty() ? "unknown" : result.kind)}];
}

ProviderCalls countingFailures(ProviderCalls calls, Metrics& metrics) {
    calls.verifySteam = [&metrics, verify = calls.verifySteam](const QueryParams& query,
                                                               const std::string& returnTo, std::int64_t now,
                                                               NonceLedger& nonces) {
        ProviderResult result = verify(query, returnTo, now, nonces);
        recordProviderResult(metrics, "steam", result);
        return result;
    };
    calls.completeDiscord = [&metrics, complete = calls.completeDiscord](
                                const QueryParams& query, const DiscordApp& app,
                                const std::string& publicHost, const std::string& codeVerifier) {
        ProviderResult result = complete(query, app, publicHost, codeVerifier);
        recordProviderResult(metrics, "discord", result);
        return result;
    };
    return calls;
}

std::string metricsText(Metrics& metrics, const StoreCounts* counts) {
    std::lock_guard guard(metrics.lock);
    std::string out;
    header(out, "orvane_requests_total", "counter", "Requests answered, by route and status.");
    for (const auto& [key, value] : metrics.requests)
        out += "orvane_requests_total{route=\"" + key.first + "\",status=\"" + std::to_string(key.second) +
               "\"} " + std::to_string(value) + "\n";
    header(out, "orvane_request_duration_seconds", "histogram",
           "Time from a request's last byte read to its answer, by route.");
    for (const auto& [route, histogram] : metrics.latency) {
        const std::string prefix = "orvane_request_duration_seconds_bucket{route=\"" + route + "\",le=\"";
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i) {
            cumulative += histogram.buckets[i];
            out += prefix + number(kLatencyBuckets[i]) + "\"} " + std::to_string(cumulative) + "\n";
        }
        out += prefix + "+Inf\"} " + std::to_string(histogram.count) + "\n";
        out += "orvane_request_duration_seconds_sum{route=\"" + route + "\"} " + number(histogram.sum) + "\n";
        out += "orvane_request_duration_seconds_count{route=\"" + route + "\"} " +
               std::to_string(histogram.count) + "\n";
    }
    header(out, "orvane_provider_failures_total", "counter",
           "Provider verifications that failed, by provider, kind and reason.");
    for (const auto& [key, value] : metrics.providerFailures)
        out += "orvane_provider_failures_total{provider=\"" + std::get<0>(key) + "\",kind=\"" +
               std::get<1>(key) + "\",reason=\"" + std::get<2>(key) + "\"} " + std::to_string(value) + "\n";
    header(out, "orvane_callback_outcomes_total", "counter",
           "Callbacks and confirmations that linked nothing at once, by route and reason kind.");
    for (const auto& [key, value] : metrics.reasons)
        out += "orvane_callback_outcomes_total{route=\"" + key.first + "\",reason=\"" + key.second + "\"} " +
               std::to_string(value) + "\n";
    header(out, "orvane_store_up", "gauge", "1 when the store answered the counts below, 0 when it failed.");
    out += std::string("orvane_store_up ") + (counts ? "1" : "0") + "\n";
    if (counts) {
        header(out, "orvane_sessions", "gauge", "Sessions not expired.");
        out += "orvane_sessions " + std::to_string(counts->sessions) + "\n";
        header(out, "orvane_links", "gauge",
               "Player records: Steam accounts linked, with or without Discord.");
        out += "orvane_links " + std::to_string(counts->links) + "\n";
    }
    processText(out);
    if (metrics.served)
        connectionsText(out, *metrics.served);
    return out;
}

std::shared_ptr<Edge> startMetricsEdge(const std::string& address, std::uint16_t port, Metrics& metrics,
                                       LinkStore& store, std::string& error) {
    EdgeOptions options;
    options.address = address;
    options.port = port;
    options.threads = 1;
    options.providerThreads = 1;
    options.maxConnections = 64; // one Prometheus on the same machine
    EdgeHooks hooks;
    hooks.blocks = [](const Request&) { return true; }; // counting reads the store
    hooks.handle = [&metrics, &store](const Request& request) {
        if (request.path != "/metrics")
            return Response{404, {{"Content-Type", "text/plain"}}, "not found\n", {}};
        if (request.method != "GET")
            return Response{405, {{"Allow", "GET"}, {"Content-Type", "text/plain"}}, "GET only\n", {}};
        const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        StoreCounts counts;
        const bool counted = store.count(now, counts) == StoreResult::Ok;
        return Response{200,
                        {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}},
                        metricsText(metrics, counted ? &counts : nullptr),
                        {}};
    };
    return startEdge(options, hooks, error);
}
