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

struct LookupPlan {
    int count = 100000; // requests in all, shared among the clients
    int clients = 4;
    int pairs = 100000;         // seeded Steam ids are 7656119800xxxxxxx with xxxxxxx below this
    double unknownShare = 0.25; // asked for ids nobody linked (xxxxxxx from pairs up to 9,999,999)
};

struct FeedPlan {
    int fills = 3;
    int limit = 5000;
    int expect = 100000; // entries a fill must bring
};

// Each prints its block of `name: value` lines; 0 when every answer was the one expected.
int runLookups(const GameServerTarget& target, const LookupPlan& plan);
int runFeedFills(const GameServerTarget& target, const FeedPlan& plan);
