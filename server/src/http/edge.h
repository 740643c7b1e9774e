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
};

struct EdgeHooks {
    std::function<Response(const Request&)> handle;
    std::function<bool(const Request&)> blocks; // true: run away from the network threads
    std::function<void(const std::string& line)> log;
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
// Serves until the process gets SIGINT or SIGTERM, then stops.
void serveUntilSignal(Edge& edge);
