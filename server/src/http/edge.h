#pragma once
// The network edge: TLS (or plain HTTP on loopback behind a reverse proxy), bounded connections and
// requests, deadlines, one log line per request. It turns bytes into Request records and Response records
// into bytes; what the answers are is the contract's business.
//
// Boost.Beast rather than cpp-httplib: Beast is asynchronous, so an idle or slow client holds a socket
// and a deadline, not a thread, and every connection's reads and writes carry their own timeout while
// the parser bounds the request line, headers and body before anything is buffered beyond them.
#include "contract/contract.h"
#include "http/bounds.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace edge_limits {
constexpr std::size_t HeaderBytes = 8192; // request line and headers together
constexpr std::size_t BodyBytes = 16384;  // the launcher sends "{}"
// Every second: once this many connections have closed since the peak, and at least half of them,
// or this many were refused and the refusals have stopped, the allocator's free pages are given back.
constexpr int TrimCheckSeconds = 1;
constexpr std::int64_t TrimAfterClosed = 256;
constexpr const char* Tls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                     "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
} // namespace edge_limits

struct EdgeOptions {
    std::string address;
    std::uint16_t port = 0;      // 0: any free port
    std::string certificateFile; // empty with privateKeyFile: plain HTTP
    std::string privateKeyFile;
    std::string trustedProxy; // only this peer's X-Forwarded-For is believed
    int threads = 2;
    int providerThreads = 4;                           // for requests that wait on Steam or Discord
    int providerQueue = bound_defaults::ProviderQueue; // such requests waiting or running, at most
    // Past either cap a new connection is closed at once, before any TLS or buffer. The trusted proxy
    // is held only to the total: every player behind it shares its address.
    int maxConnections = 1024;
    int maxConnectionsPerAddress = bound_defaults::MaxConnectionsPerAddress; // an IPv6 /64 is one address
    int handshakeSeconds = bound_defaults::HandshakeSeconds; // from accepting to the end of the handshake
                                                             // (plain HTTP: to the first byte)
    int readSeconds = bound_defaults::RequestSeconds;        // waiting for and reading one whole request
    int writeSeconds = 15;
    int housekeepingSeconds = 60;
    int drainSeconds = 10;   // at shutdown, how long requests in flight may take to finish
    int summarySeconds = 60; // at most one log line this often counts the connections refused or cut
};

// Connections now, and the ones refused or cut since the edge started.
struct EdgeCounts {
    std::int64_t open = 0;
    std::int64_t refusedMaxConnections = 0;
    std::int64_t refusedPerAddress = 0;
    std::int64_t handshakeTimeouts = 0; // closed before the handshake (or first byte) was done
    std::int64_t requestTimeouts = 0;   // closed with a request unfinished, or none ever sent
    std::int64_t acceptFailures = 0;    // accept() failed, out of descriptors most likely
    std::int64_t providerWaiting = 0;   // requests waiting for or in a call to a provider now
    std::int64_t providerQueueFull = 0; // requests answered "try again" for a full provider queue
};

struct EdgeHooks {
    std::function<Response(const Request&)> handle;
    std::function<bool(const Request&)> blocks;       // true: run away from the network threads
    std::function<Response(const Request&)> busy;     // the answer when providerQueue such requests wait
    std::function<void(const std::string& line)> log; // one JSON object, no line break
    // Every answer, with its route (never the raw path) and a refused callback's reason kind, for the
    // metrics.
    std::function<void(const std::string& route, int status, double seconds, const std::string& reason)>
        answered;
    std::function<void()> housekeeping; // every housekeepingSeconds, away from the network threads
};

struct Edge;

// Whether the certificate chain and private key load and belong together, for --check-config.
bool checkTlsFiles(const std::string& certificateFile, const std::string& privateKeyFile, std::string& error);

// Listens and serves on background threads. Null, with the reason, when it cannot start.
std::shared_ptr<Edge> startEdge(const EdgeOptions& options, EdgeHooks hooks, std::string& error);
std::uint16_t edgePort(const Edge& edge);
EdgeCounts edgeCounts(Edge& edge);
const EdgeOptions& edgeOptions(const Edge& edge);
// Stops accepting, ends every connection and joins the threads.
void stopEdge(Edge& edge);
// Stops accepting, lets the requests in flight be answered (at most drainSeconds), then stops the edge.
void drainEdge(Edge& edge);
// Loads the certificate and key files again into a new TLS context for new connections. A pair that does
// not load or match is refused, with the reason, and the context in use is kept.
bool reloadCertificate(Edge& edge, std::string& error);
// Serves until SIGINT or SIGTERM, then drains and stops; SIGHUP reloads the certificate (when serving TLS)
// and logs the outcome, then runs hangup. ready runs once the signals are caught, so a signal sent after it
// cannot kill the process.
void serveUntilSignal(Edge& edge, const std::function<void()>& ready,
                      const std::function<void()>& hangup = {});
// A log line that is not a request's: {"time":...,"event":event,...fields}; fields is an object or null.
std::string eventLogLine(const std::string& event, const nlohmann::json& fields);
