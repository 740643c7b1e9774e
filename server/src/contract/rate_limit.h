#pragma once
// Requests per client address, as token buckets refilled continuously: a client may spend a minute's
// allowance at once, then one request each 60/perMinute seconds.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

struct RateLimiter {
    int perMinute = 0; // 0: no limit
    std::mutex lock;
    struct Bucket {
        double tokens = 0;
        std::int64_t updatedMs = 0;
    };
    std::unordered_map<std::string, Bucket> buckets;
};

// True when the client may go on; otherwise retryAfterSeconds says when it may (at least 1).
bool takeRequest(RateLimiter& limiter, const std::string& client, std::int64_t nowMs, int& retryAfterSeconds);
