#include "bench_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

void mergeStats(RunStats& into, const RunStats& from) {
    into.sent += from.sent;
    for (const auto& [status, count] : from.byStatus)
        into.byStatus[status] += count;
    for (const auto& [failure, count] : from.failures)
        into.failures[failure] += count;
    into.staleRetries += from.staleRetries;
    into.warmFailures += from.warmFailures;
    into.handshakes += from.handshakes;
    into.latencyUs.insert(into.latencyUs.end(), from.latencyUs.begin(), from.latencyUs.end());
    into.lastAnswerSeconds = std::max(into.lastAnswerSeconds, from.lastAnswerSeconds);
}

std::uint64_t answeredCount(const RunStats& stats) {
    std::uint64_t total = 0;
    for (const auto& entry : stats.byStatus)
        total += entry.second;
    return total;
}

std::uint64_t failureCount(const RunStats& stats) {
    std::uint64_t total = 0;
    for (const auto& entry : stats.failures)
        total += entry.second;
    return total;
}

const char* failureName(Failure failure) {
    switch (failure) {
    case Failure::Connect:
        return "connect";
    case Failure::Tls:
        return "tls";
    case Failure::Write:
        return "write";
    case Failure::Read:
        return "read";
    case Failure::Timeout:
        return "timeout";
    case Failure::Unfinished:
        return "unfinished";
    }
    return "?";
}

std::uint32_t percentile(std::vector<std::uint32_t>& samples, double share) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least `share` of all samples at or below it.
    const double rank = std::ceil(share * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

namespace {

long statusKiB(const std::string& text, const std::string& key) {
    const auto at = text.find(key + ":");
    if (at == std::string::npos)
        return 0;
    return std::strtol(text.c_str() + at + key.size() + 1, nullptr, 10);
}

} // namespace

ProcessSample sampleProcess(int pid) {
    ProcessSample sample;
    const std::string dir = pid > 0 ? "/proc/" + std::to_string(pid) : std::string("/proc/self");
    std::ifstream statFile(dir + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The command name may hold spaces and parentheses: fields are counted after its last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return sample;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 4)
            sample.parentPid = std::atoi(field.c_str());
        if (index == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (index == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
            break;
        }
    }
    std::ifstream statusFile(dir + "/status");
    std::string status((std::istreambuf_iterator<char>(statusFile)), std::istreambuf_iterator<char>());
    sample.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    sample.vmRssKiB = statusKiB(status, "VmRSS");
    sample.vmHwmKiB = statusKiB(status, "VmHWM");
    sample.ok = true;
    return sample;
}
