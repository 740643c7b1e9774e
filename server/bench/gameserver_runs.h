#pragma once
// The game servers' two reads, measured against a service whose database holds the seeded pairs
// (server/bench/seed_pairs.py): player lookups from a few kept-alive clients, and the feed's full fill.
#include <string>

struct GameServerTarget {
    std::string address; // numeric loopback IP
    std::string port;
    std::string host = "link.bench.test";
    std::string basePath = "/orvane-launcher/v1/9e3f51d0";
    std::string key; // never printed
    int servicePid = 0;
    int databasePid = 0; // PostgreSQL's postmaster: its CPU and its backends'; 0 on SQLite
};

// What the database holds, as the seed made it (and nobody banned).
struct SeededPairs {
    int pairs = 100000;      // Steam ids 7656119800xxxxxxx with xxxxxxx below this
    int withDiscord = 90000; // of them
};

struct LookupPlan {
    int count = 100000; // requests in all, shared among the clients
    int clients = 4;
    double unknownShare = 0.25; // asked for ids nobody linked (xxxxxxx from pairs up to 9,999,999)
};

struct FeedPlan {
    int fills = 3;
    int limit = 5000;
};

// Each prints its block of figures; 0 when every answer was the one the seed implies.
int runLookups(const GameServerTarget& target, const SeededPairs& seed, const LookupPlan& plan);
int runFeedFills(const GameServerTarget& target, const SeededPairs& seed, const FeedPlan& plan);
