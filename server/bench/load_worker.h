#pragma once
// One thread's share of the load: a pool of TLS connections on its own io_context, fed by a fixed-rate
// schedule (or, saturating, by each connection asking again at once).
#include "bench_options.h"
#include "bench_stats.h"

#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <future>
#include <latch>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

// Shared read-only by every thread.
struct LoadPlan {
    const BenchOptions& options;
    const std::vector<std::string>& tokens;
    boost::asio::ssl::context& tls;
};

struct WorkerShare {
    int index = 0; // this thread's place among `count`, interleaving the schedules
    int count = 1;
};

// Opens the kept-alive pool, counts down `ready`, waits for the common start time, then runs the share.
RunStats runLoadShare(const LoadPlan& plan, WorkerShare share, std::latch& ready,
                      std::shared_future<BenchClock::time_point> start);

// POSTs /sessions `count` times over a few kept-alive connections; the tokens answered are appended to
// `tokens`. The stats count every answer by status.
RunStats createSessions(const LoadPlan& plan, int count, std::vector<std::string>& tokens);

// A session token as the service hands them out: 43 characters of the URL-safe Base64 alphabet.
bool isSessionToken(const std::string& text);

// The TLS client context: peer verified against `caFile`; empty error when usable.
std::string setUpClientTls(boost::asio::ssl::context& tls, const std::string& caFile);
