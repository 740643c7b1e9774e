#pragma once
// The network edge: TLS (or plain HTTP on loopback behind a reverse proxy), bounded requests, deadlines,
// one log line per request. It turns bytes into Request records and Response records into bytes; what
// the answers are is the contract's business.
//
// Boost.Beast rather than cpp-httplib: Beast is asynchronous, so an idle or slow client holds a socket
// and a deadline, not a thread, and every connection's reads and writes carry their own timeout while
// the parser bounds the request line, headers and body before anything is buffered beyond them.
#include "contract/contract.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace edge_limits {
constexpr std::size_t HeaderBytes = 8192; // request line and headers together
constexpr std::size_t BodyBytes = 16384;  // the launcher sends "{}"
} // namespace edge_limits

struct EdgeOptions {
    std::string address;
    std::uint16_t port = 0;      // 0: any free port
    std::string certificateFile; // empty with privateKeyFile: plain HTTP
    std::string privateKeyFile;
    std::string trustedProxy; // only this peer's X-Forwarded-For is believed
    int threads = 2;
    int providerThreads = 4; // for requests that wait on Steam or Discord
    int readSeconds = 15;    // waiting for and reading one whole request, the TLS handshake included
    int writeSeconds = 15;
    int housekeepingSeconds = 60;
    int drainSeconds = 10; // at shutdown, how long requests in flight may take to finish
};

struct EdgeHooks {
    std::function<Response(const Request&)> handle;
    std::function<bool(const Request&)> blocks;       // true: run away from the network threads
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
// A log line that is not a request's: {"time":...,"event":event,...fields}.
std::string eventLogLine(const std::string& event,
                         const std::vector<std::pair<std::string, std::string>>& fields);
