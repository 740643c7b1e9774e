// orvane-link-bench: load for the link service in the launchers' polling pattern. Prints one block of
// figures; see server/BENCHMARK.md and tools/bench-service.sh.
#include "bench_options.h"
#include "bench_stats.h"
#include "load_worker.h"
#include "slow_clients.h"

#include <boost/asio/ssl/context.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// Thousands of connections need as many descriptors as the hard limit allows.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string loadTokens(BenchOptions& o) {
    if (o.tokenFile.empty())
        return "";
    std::ifstream file(o.tokenFile);
    if (!file)
        return "cannot read the token file " + o.tokenFile;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (!isSessionToken(line))
            return "the token file holds a line that is not a session token";
        o.tokens.push_back(line);
    }
    return "";
}

bool saveTokens(const std::string& path, const std::vector<std::string>& tokens) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string text;
    for (const auto& token : tokens)
        text += token + "\n";
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

double ms(std::uint32_t micros) {
    return micros / 1000.0;
}

void printStats(const BenchOptions& o, RunStats& stats, double seconds) {
    const std::uint64_t answered = answeredCount(stats);
    std::printf("sent: %llu\n", static_cast<unsigned long long>(stats.sent));
    std::printf("answered: %llu", static_cast<unsigned long long>(answered));
    for (const auto& [status, count] : stats.byStatus)
        std::printf(" %d=%llu", status, static_cast<unsigned long long>(count));
    std::printf("\nfailures: %llu", static_cast<unsigned long long>(failureCount(stats)));
    for (const auto& [failure, count] : stats.failures)
        std::printf(" %s=%llu", failureName(failure), static_cast<unsigned long long>(count));
    std::printf("\ntls_handshakes: %llu", static_cast<unsigned long long>(stats.handshakes));
    std::printf("\nretried_on_closed_keepalive: %llu\n", static_cast<unsigned long long>(stats.staleRetries));
    if (o.keepAlive)
        std::printf("keepalive_open_failures: %llu\n", static_cast<unsigned long long>(stats.warmFailures));
    const double window = std::max(seconds, stats.lastAnswerSeconds);
    std::printf("achieved_rate: %.1f req/s\n", window > 0 ? answered / window : 0.0);
    auto& l = stats.latencyUs;
    const double p50 = ms(percentile(l, 0.50)), p90 = ms(percentile(l, 0.90)), p99 = ms(percentile(l, 0.99));
    std::printf("latency_ms: p50=%.2f p90=%.2f p99=%.2f max=%.2f\n", p50, p90, p99, ms(percentile(l, 1.0)));
}

void printSlowGroup(const char* name, SlowGroupReport& group) {
    if (group.asked == 0)
        return;
    std::printf("%s: asked=%d opened=%d closed_by_service=%d answered=%d", name, group.asked, group.opened,
                group.closedByService, group.answered);
    auto& after = group.closedAfterSeconds;
    if (!after.empty()) {
        std::sort(after.begin(), after.end());
        std::printf(" closed_after_s: min=%.1f p50=%.1f max=%.1f", after.front(), after[after.size() / 2],
                    after.back());
    }
    if (!group.firstAnswer.empty())
        std::printf(" first_answer=\"%s\"", group.firstAnswer.c_str());
    if (group.bytesSent > 0)
        std::printf(" bytes_sent=%d", group.bytesSent);
    std::printf("\n");
}

int makeSessions(const BenchOptions& o, boost::asio::ssl::context& tls) {
    std::vector<std::string> tokens;
    const LoadPlan plan{o, tokens, tls};
    std::vector<std::string> made;
    RunStats stats = createSessions(plan, o.createSessions, made);
    std::printf("sessions_asked: %d\nsessions_made: %zu\n", o.createSessions, made.size());
    printStats(o, stats, 0);
    if (!saveTokens(o.saveTokens, made)) {
        std::fprintf(stderr, "orvane-link-bench: cannot write %s\n", o.saveTokens.c_str());
        return 1;
    }
    return made.empty() ? 1 : 0;
}

// The watched service's memory, sampled while the load runs, for its peak resident size.
struct MemoryWatch {
    std::atomic<bool> done{false};
    std::atomic<long> peakRssKiB{0};
    std::thread thread;

    void start(int pid) {
        if (pid <= 0)
            return;
        thread = std::thread([this, pid] {
            while (!done.load()) {
                const ProcessSample s = sampleProcess(pid);
                if (s.ok && s.vmRssKiB > peakRssKiB.load())
                    peakRssKiB = s.vmRssKiB;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
    }
    void stop() {
        done = true;
        if (thread.joinable())
            thread.join();
    }
};

void printCpu(const char* name, const ProcessSample& before, const ProcessSample& after, double wall) {
    const double used = after.cpuSeconds - before.cpuSeconds;
    std::printf("%s: %.0f%% of one core (%.2f s over %.2f s)\n", name, wall > 0 ? 100.0 * used / wall : 0.0,
                used, wall);
}

int runLoad(const BenchOptions& o, boost::asio::ssl::context& tls) {
    const LoadPlan plan{o, o.tokens, tls};
    // Before any connection of this run: what the open connections cost shows against it.
    const ProcessSample serviceUnconnected = sampleProcess(o.watchPid);
    SlowClients slow(o, tls);
    if (o.idle + o.trickle + o.silentTcp > 0)
        slow.open();

    std::latch ready(o.threads);
    std::promise<BenchClock::time_point> startPromise;
    std::shared_future<BenchClock::time_point> start = startPromise.get_future().share();
    std::vector<RunStats> results(static_cast<std::size_t>(o.threads));
    std::vector<std::thread> threads;
    for (int i = 0; i < o.threads; ++i)
        threads.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] = runLoadShare(plan, {i, o.threads}, ready, start);
        });
    ready.wait();

    MemoryWatch memory;
    const ProcessSample serviceBefore = sampleProcess(o.watchPid);
    const ProcessSample selfBefore = sampleProcess(0);
    const auto began = BenchClock::now() + std::chrono::milliseconds(20);
    memory.start(o.watchPid);
    startPromise.set_value(began);
    for (auto& thread : threads)
        thread.join();
    const double wall = std::chrono::duration<double>(BenchClock::now() - began).count();
    const ProcessSample selfAfter = sampleProcess(0);
    const ProcessSample serviceAfter = sampleProcess(o.watchPid);
    memory.stop();

    RunStats total;
    for (const auto& r : results)
        mergeStats(total, r);
    std::printf("scenario: %s\n", o.label.empty() ? "-" : o.label.c_str());
    if (o.saturate)
        std::printf("load: saturation");
    else
        std::printf("load: open loop at %.1f req/s", o.rate);
    std::printf(", %s, %d connections, %d threads, %.1f s, %zu session tokens\n",
                o.keepAlive ? "kept-alive connections" : "a new TLS connection per request",
                defaultConnections(o), o.threads, o.seconds, o.tokens.size());
    printStats(o, total, o.seconds);
    printCpu("generator_cpu", selfBefore, selfAfter, wall);
    if (o.watchPid > 0 && serviceBefore.ok && serviceAfter.ok) {
        printCpu("service_cpu", serviceBefore, serviceAfter, wall);
        // The service's own cost of one answer: what it could serve with every core to itself is an
        // estimate from this, not a measurement.
        const std::uint64_t answered = answeredCount(total);
        if (answered > 0)
            std::printf("service_cpu_ms_per_answer: %.3f\n",
                        1000.0 * (serviceAfter.cpuSeconds - serviceBefore.cpuSeconds) / answered);
        std::printf("service_memory_mib: rss_unconnected=%.1f rss_start=%.1f rss_peak=%.1f rss_end=%.1f "
                    "hwm=%.1f\n",
                    serviceUnconnected.vmRssKiB / 1024.0, serviceBefore.vmRssKiB / 1024.0,
                    std::max(memory.peakRssKiB.load(), serviceAfter.vmRssKiB) / 1024.0,
                    serviceAfter.vmRssKiB / 1024.0, serviceAfter.vmHwmKiB / 1024.0);
    } else if (o.watchPid > 0) {
        std::printf("service_cpu: unavailable (process %d not readable)\n", o.watchPid);
    }
    if (o.idle + o.trickle + o.silentTcp > 0) {
        SlowReport report = slow.finish();
        std::printf("slow_clients_held_s: %.1f\n", report.heldSeconds);
        printSlowGroup("idle_connections", report.idle);
        printSlowGroup("trickle_connections", report.trickle);
        printSlowGroup("silent_tcp_connections", report.silentTcp);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ParsedOptions parsed = parseBenchOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(benchUsage(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "orvane-link-bench: %s\n%s", parsed.error.c_str(), benchUsage());
        return 64;
    }
    BenchOptions& o = parsed.options;
    if (const std::string error = loadTokens(o); !error.empty()) {
        std::fprintf(stderr, "orvane-link-bench: %s\n", error.c_str());
        return 66;
    }
    raiseDescriptorLimit();
    boost::asio::ssl::context tls(boost::asio::ssl::context::tls_client);
    if (const std::string error = setUpClientTls(tls, o.caFile); !error.empty()) {
        std::fprintf(stderr, "orvane-link-bench: %s\n", error.c_str());
        return 66;
    }
    if (o.createSessions > 0)
        return makeSessions(o, tls);
    return runLoad(o, tls);
}
