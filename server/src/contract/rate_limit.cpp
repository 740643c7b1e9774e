#include "contract/rate_limit.h"

#include <cmath>

namespace {

// Beyond this many clients, the full buckets (which know nothing a new one would not) are dropped.
constexpr std::size_t MaxClients = 200000;

double refilled(const RateLimiter::Bucket& bucket, double capacity, double perMs, std::int64_t nowMs) {
    const double elapsed = static_cast<double>(std::max<std::int64_t>(0, nowMs - bucket.updatedMs));
    return std::min(capacity, bucket.tokens + elapsed * perMs);
}

} // namespace

bool takeRequest(RateLimiter& limiter, const std::string& client, std::int64_t nowMs,
                 int& retryAfterSeconds) {
    if (limiter.perMinute <= 0)
        return true;
    const double capacity = limiter.perMinute;
    const double perMs = capacity / 60000.0;
    std::lock_guard guard(limiter.lock);
    if (limiter.buckets.size() >= MaxClients) {
        std::erase_if(limiter.buckets, [&](const auto& entry) {
            return refilled(entry.second, capacity, perMs, nowMs) >= capacity;
        });
        if (limiter.buckets.size() >= MaxClients)
            limiter.buckets.clear();
    }
    const auto entry = limiter.buckets.try_emplace(client, RateLimiter::Bucket{capacity, nowMs}).first;
    RateLimiter::Bucket& bucket = entry->second;
    bucket.tokens = refilled(bucket, capacity, perMs, nowMs);
    bucket.updatedMs = std::max(bucket.updatedMs, nowMs);
    if (bucket.tokens >= 1.0) {
        bucket.tokens -= 1.0;
        return true;
    }
    retryAfterSeconds = std::max(1, static_cast<int>(std::ceil((1.0 - bucket.tokens) / perMs / 1000.0)));
    return false;
}
