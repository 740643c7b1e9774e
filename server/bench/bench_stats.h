#pragma once
// What one run measured: outcomes by status and by failure, and every latency, merged across threads.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class Failure { Connect, Tls, Write, Read, Timeout, Unfinished };

struct RunStats {
    std::uint64_t sent = 0;
    std::map<int, std::uint64_t> byStatus;
    std::map<Failure, std::uint64_t> failures;
    std::uint64_t handshakes = 0;   // TLS connections set up during the measured run
    std::uint64_t warmFailures = 0; // kept-alive connections that could not be opened before the start
    std::uint64_t staleRetries = 0; // a kept-alive connection the service had closed; the request went again
    std::vector<std::uint32_t> latencyUs; // answered requests only
    double lastAnswerSeconds = 0;         // after the start of the measured window
};

void mergeStats(RunStats& into, const RunStats& from);
std::uint64_t answeredCount(const RunStats& stats);
std::uint64_t failureCount(const RunStats& stats);
const char* failureName(Failure failure);

// The value below which the given share (0..1) of the samples lie; sorts the samples. 0 when empty.
std::uint32_t percentile(std::vector<std::uint32_t>& samples, double share);

// CPU time of a process from /proc (utime + stime), and its memory figures from /proc/PID/status.
struct ProcessSample {
    bool ok = false;
    int parentPid = 0;
    double cpuSeconds = 0;
    long vmRssKiB = 0;
    long vmHwmKiB = 0;
};
ProcessSample sampleProcess(int pid); // 0: this process
