#include "gameserver_runs.h"

#include "bench_stats.h"
#include "plain_http.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <future>
#include <latch>
#include <map>
#include <random>
#include <thread>
#include <unordered_set>
#include <vector>

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long long SteamBase = 76561198000000000LL;
constexpr long long SteamIdsInRange = 10000000; // the seven digits after 7656119800

// The process's CPU and its children's: PostgreSQL's backends are the postmaster's children. (A backend
// that ends between two marks takes its time with it; the service keeps its connections open.)
double treeCpuSeconds(int pid) {
    if (pid <= 0)
        return 0;
    double total = sampleProcess(pid).cpuSeconds;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const ProcessSample child = sampleProcess(std::stoi(name));
        if (child.ok && child.parentPid == pid)
            total += child.cpuSeconds;
    }
    return total;
}

// Taken just before a run's clock starts (`at` last) and just after it stops (`at` first).
struct CpuMark {
    Clock::time_point at;
    double service = 0, database = 0, client = 0;
};

CpuMark markCpu(const GameServerTarget& target, bool clockFirst) {
    CpuMark mark;
    if (clockFirst)
        mark.at = Clock::now();
    mark.service = sampleProcess(target.servicePid).cpuSeconds;
    mark.database = treeCpuSeconds(target.databasePid);
    mark.client = sampleProcess(0).cpuSeconds;
    if (!clockFirst)
        mark.at = Clock::now();
    return mark;
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void printCpu(const GameServerTarget& target, const CpuMark& before, const CpuMark& after) {
    const double wall = secondsBetween(before.at, after.at);
    const auto share = [&](double used) { return wall > 0 ? 100.0 * used / wall : 0.0; };
    const double service = after.service - before.service, client = after.client - before.client;
    std::printf("cpu: service %.2f s (%.0f%% of one core)", service, share(service));
    if (target.databasePid > 0) {
        const double database = after.database - before.database;
        std::printf(", database %.2f s (%.0f%%)", database, share(database));
    }
    std::printf(", this client %.2f s (%.0f%%)\n", client, share(client));
}

// ---- lookups

struct LookupTally {
    std::vector<std::uint32_t> latencyUs;  // answered requests only
    std::map<int, std::uint64_t> byStatus; // 0: no answer
    std::uint64_t known = 0, knownWithDiscord = 0, wrong = 0;
    int reconnects = 0;
    std::string firstProblem;
};

// What the seeded database must answer: the id asked, nobody banned, ready exactly when the pair has a
// Discord (the rule is steam+discord), and no Discord for an id nobody linked.
bool documentFits(const std::string& body, const std::string& steamId, bool known, bool& withDiscord) {
    const json doc = json::parse(body, nullptr, false);
    if (!doc.is_object() || !doc.contains("steam") || !doc.contains("discord") || !doc.contains("ready") ||
        !doc.contains("banned"))
        return false;
    const json& discord = doc.at("discord");
    withDiscord = discord.is_string();
    return doc.at("steam") == steamId && (withDiscord || discord.is_null()) && doc.at("banned") == false &&
           doc.at("ready") == withDiscord && (known || !withDiscord);
}

LookupTally lookupClient(const GameServerTarget& target, const SeededPairs& seed, const LookupPlan& plan,
                         int index, int share, std::latch& ready, std::shared_future<void> go) {
    LookupTally tally;
    PlainHttpConnection connection(target.address, target.port, target.host, target.key);
    std::string error;
    const bool connected = connection.connect(error);
    ready.count_down();
    go.wait();
    if (!connected) {
        tally.byStatus[0] += static_cast<std::uint64_t>(share);
        tally.firstProblem = error;
        return tally;
    }
    // Seeded by the client's place, so every run asks the same ids.
    std::mt19937_64 random(static_cast<std::uint64_t>(index) + 1);
    std::uniform_real_distribution<double> coin(0, 1);
    std::uniform_int_distribution<long long> knownIds(0, seed.pairs - 1);
    std::uniform_int_distribution<long long> unknownIds(seed.pairs, SteamIdsInRange - 1);
    const std::string prefix = target.basePath + "/gameserver/players/";
    tally.latencyUs.reserve(static_cast<std::size_t>(share));
    for (int n = 0; n < share; ++n) {
        const bool known = coin(random) >= plan.unknownShare;
        const std::string steamId =
            std::to_string(SteamBase + (known ? knownIds(random) : unknownIds(random)));
        const Clock::time_point began = Clock::now();
        const HttpAnswer answer = connection.get(prefix + steamId);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began);
        ++tally.byStatus[answer.status];
        bool withDiscord = false;
        if (answer.status != 0)
            tally.latencyUs.push_back(static_cast<std::uint32_t>(took.count()));
        if (answer.status == 200 && documentFits(answer.body, steamId, known, withDiscord)) {
            tally.known += known;
            tally.knownWithDiscord += withDiscord;
            continue;
        }
        ++tally.wrong;
        if (tally.firstProblem.empty())
            tally.firstProblem = answer.status == 0 ? answer.error
                                                    : std::to_string(answer.status) + " " +
                                                          answer.body.substr(0, 200) + " for " + steamId;
    }
    tally.reconnects = connection.reconnects();
    return tally;
}

// ---- the feed

struct FeedPage {
    std::int64_t since = 0;
    std::string body;
    std::size_t wireBytes = 0;
    double seconds = 0;
    bool more = false;
    std::int64_t next = 0;
};

// `more` and `next` from the page's tail, so the fill does not wait on parsing 5,000 entries: the service
// writes an object's members in name order, after `changes`, so their last occurrences are the page's
// own. checkFill parses every page in full afterwards and holds these to it.
bool readTail(FeedPage& page) {
    const std::size_t more = page.body.rfind("\"more\":");
    const std::size_t next = page.body.rfind("\"next\":");
    if (more == std::string::npos || next == std::string::npos)
        return false;
    page.more = page.body.compare(more + 7, 4, "true") == 0;
    page.next = std::strtoll(page.body.c_str() + next + 7, nullptr, 10);
    return true;
}

struct FillCheck {
    long long entries = 0, withDiscord = 0;
    std::string problem;
};

// Throws json::type_error where a member has the wrong type.
void checkPage(const FeedPage& page, bool last, const FeedPlan& plan, std::int64_t& cursor,
               std::unordered_set<std::string>& seen, FillCheck& check) {
    const json doc = json::parse(page.body, nullptr, false);
    if (!doc.is_object() || !doc.contains("changes") || !doc["changes"].is_array() || !doc.contains("next") ||
        !doc.contains("more") || doc.value("rule", "") != "steam+discord") {
        check.problem = "a page is not a changes page under the rule steam+discord";
        return;
    }
    const json& changes = doc["changes"];
    for (const json& entry : changes) {
        const bool withDiscord = entry.contains("discord") && entry["discord"].is_string();
        if (!entry.contains("cursor") || !entry["cursor"].is_number_integer() ||
            entry["cursor"].get<std::int64_t>() <= cursor || !entry.contains("steam") ||
            !entry["steam"].is_string() || !seen.insert(entry["steam"].get<std::string>()).second ||
            entry.value("banned", true) != false || entry.value("ready", !withDiscord) != withDiscord) {
            check.problem = "entry " + entry.dump() + " after cursor " + std::to_string(cursor);
            return;
        }
        cursor = entry["cursor"].get<std::int64_t>();
        ++check.entries;
        check.withDiscord += withDiscord;
    }
    const std::int64_t next = changes.empty() ? page.since : cursor;
    const bool full = static_cast<int>(changes.size()) == plan.limit;
    if (doc["next"] != next || doc["more"] != full || page.next != next || page.more != full ||
        page.more == last)
        check.problem = "page after " + std::to_string(page.since) + ": next or more wrong";
}

FillCheck checkFill(const std::vector<FeedPage>& pages, const SeededPairs& seed, const FeedPlan& plan) {
    FillCheck check;
    std::int64_t cursor = 0;
    std::unordered_set<std::string> seen;
    try {
        for (std::size_t i = 0; i < pages.size() && check.problem.empty(); ++i)
            checkPage(pages[i], i + 1 == pages.size(), plan, cursor, seen, check);
    } catch (const json::exception& e) {
        check.problem = std::string("a page's member has the wrong type: ") + e.what();
    }
    if (check.problem.empty() && (check.entries != seed.pairs || check.withDiscord != seed.withDiscord))
        check.problem = "the fill brought " + std::to_string(check.entries) + " entries, " +
                        std::to_string(check.withDiscord) + " with a Discord, not " +
                        std::to_string(seed.pairs) + " and " + std::to_string(seed.withDiscord);
    return check;
}

// Pages until `more` is false (or the pages the expected entries need run out): the bodies are kept and
// checked once the clock has stopped.
std::vector<FeedPage> fill(const GameServerTarget& target, const SeededPairs& seed, const FeedPlan& plan,
                           std::string& problem) {
    PlainHttpConnection connection(target.address, target.port, target.host, target.key);
    std::vector<FeedPage> pages;
    const int maxPages = seed.pairs / plan.limit + 2;
    std::int64_t since = 0;
    for (int n = 0; n < maxPages; ++n) {
        FeedPage page;
        page.since = since;
        const Clock::time_point began = Clock::now();
        HttpAnswer answer =
            connection.get(target.basePath + "/gameserver/changes?since=" + std::to_string(since) +
                           "&limit=" + std::to_string(plan.limit));
        page.seconds = secondsBetween(began, Clock::now());
        page.body = std::move(answer.body);
        page.wireBytes = answer.wireBytes;
        if (answer.status != 200 || !readTail(page)) {
            problem = answer.status == 0
                          ? answer.error
                          : "status " + std::to_string(answer.status) + ": " + page.body.substr(0, 200);
            return pages;
        }
        since = page.next;
        pages.push_back(std::move(page));
        if (!pages.back().more)
            return pages;
    }
    problem = "still more after " + std::to_string(maxPages) + " pages";
    return pages;
}

} // namespace

int runLookups(const GameServerTarget& target, const SeededPairs& seed, const LookupPlan& plan) {
    std::latch ready(plan.clients);
    std::promise<void> start;
    std::shared_future<void> go = start.get_future().share();
    std::vector<LookupTally> tallies(static_cast<std::size_t>(plan.clients));
    std::vector<std::thread> clients;
    for (int i = 0; i < plan.clients; ++i) {
        const int share = plan.count / plan.clients + (i < plan.count % plan.clients ? 1 : 0);
        clients.emplace_back([&, i, share] {
            tallies[static_cast<std::size_t>(i)] = lookupClient(target, seed, plan, i, share, ready, go);
        });
    }
    ready.wait();
    const CpuMark before = markCpu(target, false);
    start.set_value();
    for (auto& client : clients)
        client.join();
    const CpuMark after = markCpu(target, true);

    LookupTally total;
    for (LookupTally& each : tallies) {
        total.latencyUs.insert(total.latencyUs.end(), each.latencyUs.begin(), each.latencyUs.end());
        for (const auto& [status, count] : each.byStatus)
            total.byStatus[status] += count;
        total.known += each.known;
        total.knownWithDiscord += each.knownWithDiscord;
        total.wrong += each.wrong;
        total.reconnects += each.reconnects;
        if (total.firstProblem.empty())
            total.firstProblem = each.firstProblem;
    }
    const double wall = secondsBetween(before.at, after.at);
    std::printf("lookups: %d requests from %d kept-alive clients, %.0f%% for ids nobody linked\n", plan.count,
                plan.clients, 100 * plan.unknownShare);
    std::printf("answers:");
    for (const auto& [status, count] : total.byStatus)
        std::printf(" %s=%llu", status == 0 ? "none" : std::to_string(status).c_str(),
                    static_cast<unsigned long long>(count));
    std::printf(", not as seeded %llu, reconnects %d\n", static_cast<unsigned long long>(total.wrong),
                total.reconnects);
    if (!total.firstProblem.empty())
        std::printf("first problem: %s\n", total.firstProblem.c_str());
    // A seeded id without a Discord reads as one nobody linked, so the seed shows in the share only: off by
    // more than sampling allows (its spread is a few tenths of a point here), the answers are not the seed's.
    const double seededShare = 100.0 * seed.withDiscord / seed.pairs;
    const double share = total.known ? 100.0 * total.knownWithDiscord / total.known : 0.0;
    const bool shareFits = total.known < 1000 || std::abs(share - seededShare) <= 2.0;
    std::printf("seeded ids answered with a Discord: %.1f%% of %llu (the seed: %.1f%%)%s\n", share,
                static_cast<unsigned long long>(total.known), seededShare, shareFits ? "" : " - WRONG");
    auto& l = total.latencyUs;
    const auto ms = [](std::uint32_t us) { return us / 1000.0; };
    const double p50 = ms(percentile(l, 0.50)), p99 = ms(percentile(l, 0.99)), max = ms(percentile(l, 1.0));
    std::printf("rate: %.0f requests/s over %.2f s; latency ms: p50 %.3f, p99 %.3f, max %.2f\n",
                wall > 0 ? plan.count / wall : 0.0, wall, p50, p99, max);
    printCpu(target, before, after);
    std::printf("service cpu per request: %.1f us\n", 1e6 * (after.service - before.service) / plan.count);
    return total.wrong == 0 && shareFits ? 0 : 1;
}

int runFeedFills(const GameServerTarget& target, const SeededPairs& seed, const FeedPlan& plan) {
    std::printf("feed: %d full fills from since=0 with limit=%d, each on a new connection\n", plan.fills,
                plan.limit);
    bool allRight = true;
    for (int n = 1; n <= plan.fills; ++n) {
        std::string problem;
        const CpuMark before = markCpu(target, false);
        const std::vector<FeedPage> pages = fill(target, seed, plan, problem);
        const CpuMark after = markCpu(target, true);
        const FillCheck check = checkFill(pages, seed, plan);
        std::size_t body = 0, wire = 0;
        double slowest = 0;
        for (const FeedPage& page : pages) {
            body += page.body.size();
            wire += page.wireBytes;
            slowest = std::max(slowest, page.seconds);
        }
        std::printf(
            "fill %d: %zu pages, %lld entries (%lld with a Discord), %zu body bytes (%zu on the wire), "
            "%.0f ms wall, slowest page %.1f ms\n",
            n, pages.size(), check.entries, check.withDiscord, body, wire,
            1000 * secondsBetween(before.at, after.at), 1000 * slowest);
        printCpu(target, before, after);
        if (problem.empty())
            problem = check.problem;
        if (!problem.empty()) {
            std::printf("fill %d wrong: %s\n", n, problem.c_str());
            allRight = false;
        }
    }
    return allRight ? 0 : 1;
}
