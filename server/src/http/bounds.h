#pragma once
// What the process may hold at once, and how it reads what it holds: descriptors, connections by client
// address, resident memory. The edge enforces the connection caps; the program sizes them at start.
#include <cstdint>
#include <string>

namespace edge_bounds {
constexpr std::int64_t ReservedDescriptors = 64; // the database, the metrics port, Steam and Discord calls
constexpr int MaxConnectionsCeiling = 50000;     // the default's ceiling, however many descriptors
} // namespace edge_bounds

struct DescriptorLimit {
    std::int64_t before = 0; // the soft limit the process was started with
    std::int64_t now = 0;    // after raising it to the hard limit
};

// Raises the soft RLIMIT_NOFILE to the hard one (a unit without LimitNOFILE starts at 1,024).
DescriptorLimit raiseDescriptorLimit();

// Connections the edge may hold with `descriptors` to spend: configured (0: the default, the descriptors
// less the reserve, at most MaxConnectionsCeiling), never more than the descriptors less the reserve.
int connectionsAllowed(std::int64_t descriptors, int configured);

// Whose connections count together: an IPv4 address alone, an IPv6 address's /64 (one customer's).
std::string addressKey(const std::string& address);

std::int64_t residentBytes();   // 0 when unknown
std::int64_t openDescriptors(); // -1 when unknown
std::int64_t descriptorLimit(); // the soft limit now

// Gives the allocator's free pages back to the system, after a burst of connections has gone.
void returnFreeMemory();
