#pragma once
#include <cstddef>
#include <string_view>

// The test program's own global operator new and delete. While armed, every block handed back to the
// heap is searched, just before it is freed, for the watched secrets: as UTF-8 bytes and as UTF-16LE,
// whole or as any run of kRun characters. Every block is zeroed before it is freed, armed or not.
// Nothing is printed or allocated from inside delete; the test reads the tally once disarmed.
namespace freedprobe {

inline constexpr size_t kRun = 12;
inline constexpr size_t kMaxSecrets = 4;
inline constexpr size_t kMaxSecretLength = 64;
inline constexpr size_t kKeptSizes = 16;

struct Tally {
    unsigned long blocksFreed = 0;
    unsigned long blocksHolding = 0;
    // Sizes of the first kKeptSizes blocks that held a secret, in the order they were freed.
    size_t sizes[kKeptSizes] = {};
};

// Only while disarmed. False when the list is full or the secret is shorter than kRun or longer
// than kMaxSecretLength.
bool watch(std::string_view secret);
void forgetAll();

void arm();
Tally disarm();

} // namespace freedprobe
