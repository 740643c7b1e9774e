#include "http/bounds.h"
#include "contract/network.h"

#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>

DescriptorLimit raiseDescriptorLimit() {
    DescriptorLimit limit;
    rlimit current{};
    if (getrlimit(RLIMIT_NOFILE, &current) != 0)
        return limit;
    limit.before = static_cast<std::int64_t>(current.rlim_cur);
    if (current.rlim_cur < current.rlim_max) {
        // An unlimited hard limit is not a soft limit the kernel accepts; its own ceiling is.
        rlimit raised = current;
        raised.rlim_cur = current.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : current.rlim_max;
        setrlimit(RLIMIT_NOFILE, &raised);
    }
    limit.now = descriptorLimit();
    return limit;
}

std::int64_t descriptorLimit() {
    rlimit current{};
    return getrlimit(RLIMIT_NOFILE, &current) == 0 ? static_cast<std::int64_t>(current.rlim_cur) : 0;
}

int connectionsAllowed(std::int64_t descriptors, int configured) {
    // A tiny limit still leaves half of it to connections rather than none.
    const std::int64_t spare = std::max(descriptors - edge_bounds::ReservedDescriptors, descriptors / 2);
    const std::int64_t wanted = configured > 0 ? configured : edge_bounds::MaxConnectionsCeiling;
    return static_cast<int>(std::max<std::int64_t>(1, std::min(wanted, spare)));
}

std::string addressKey(const std::string& address) {
    unsigned char bytes[4];
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1)
        return address;
    const std::string network = networkOf(address);
    return network.empty() ? address : network;
}

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    if (!(statm >> size >> resident))
        return 0;
    return resident * sysconf(_SC_PAGESIZE);
}

std::int64_t openDescriptors() {
    std::error_code ec;
    std::int64_t count = 0;
    for (std::filesystem::directory_iterator entry("/proc/self/fd", ec), end; !ec && entry != end;
         entry.increment(ec))
        ++count;
    return ec ? -1 : count - 1; // less the one reading the folder
}

void returnFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
