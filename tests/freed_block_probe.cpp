#include "freed_block_probe.h"

#include <malloc.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace freedprobe {
namespace {

// For each watched secret and byte value, the positions where a run of kRun characters starting
// with that byte begins; filled while disarmed, only read while armed.
struct Secret {
    unsigned char text[kMaxSecretLength];
    size_t length;
    unsigned char starts[256][kMaxSecretLength];
    unsigned char startCount[256];
};

Secret gSecrets[kMaxSecrets];
size_t gSecretCount = 0;
std::atomic<bool> gArmed{false};
std::atomic<unsigned long> gFreed{0};
std::atomic<unsigned long> gHolding{0};
std::atomic<size_t> gSizes[kKeptSizes];

// width 1: UTF-8 bytes; width 2: UTF-16LE units (the byte, then a zero).
bool runAt(const unsigned char* at, const unsigned char* end, const unsigned char* run, size_t width) {
    if (static_cast<size_t>(end - at) < kRun * width)
        return false;
    for (size_t i = 0; i < kRun; ++i) {
        if (at[i * width] != run[i])
            return false;
        if (width == 2 && at[i * 2 + 1] != 0)
            return false;
    }
    return true;
}

bool holdsSecret(const unsigned char* block, size_t size) {
    const unsigned char* end = block + size;
    for (const unsigned char* at = block; at < end; ++at) {
        for (size_t s = 0; s < gSecretCount; ++s) {
            const Secret& secret = gSecrets[s];
            for (size_t k = 0; k < secret.startCount[*at]; ++k) {
                const unsigned char* run = secret.text + secret.starts[*at][k];
                if (runAt(at, end, run, 1) || runAt(at, end, run, 2))
                    return true;
            }
        }
    }
    return false;
}

void inspect(const void* block, size_t size) {
    if (block == nullptr || !gArmed.load(std::memory_order_acquire))
        return;
    gFreed.fetch_add(1);
    if (!holdsSecret(static_cast<const unsigned char*>(block), size))
        return;
    const unsigned long index = gHolding.fetch_add(1);
    if (index < kKeptSizes)
        gSizes[index].store(size);
}

} // namespace

bool watch(std::string_view secret) {
    if (gSecretCount == kMaxSecrets || secret.size() < kRun || secret.size() > kMaxSecretLength)
        return false;
    Secret& entry = gSecrets[gSecretCount++];
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.text, secret.data(), secret.size());
    entry.length = secret.size();
    for (size_t k = 0; k + kRun <= entry.length; ++k) {
        const unsigned char first = entry.text[k];
        entry.starts[first][entry.startCount[first]++] = static_cast<unsigned char>(k);
    }
    return true;
}

void forgetAll() {
    gSecretCount = 0;
}

void arm() {
    gFreed.store(0);
    gHolding.store(0);
    for (auto& size : gSizes)
        size.store(0);
    gArmed.store(true, std::memory_order_release);
}

Tally disarm() {
    gArmed.store(false, std::memory_order_release);
    Tally tally;
    tally.blocksFreed = gFreed.load();
    tally.blocksHolding = gHolding.load();
    for (size_t i = 0; i < kKeptSizes; ++i)
        tally.sizes[i] = gSizes[i].load();
    return tally;
}

} // namespace freedprobe

// Every form of the global operators is replaced, so that every block the program frees passes the
// probe, whichever form freed it. Plain blocks come from malloc and are searched whole (_msize);
// over-aligned ones carry their malloc pointer and size in a header just before the aligned address,
// since this C runtime cannot tell an aligned block's size.
namespace {

struct AlignedHeader {
    void* base;
    size_t size;
};

void* allocatePlain(size_t size) {
    return std::malloc(size != 0 ? size : 1);
}

void* allocateAligned(size_t size, std::align_val_t alignment) {
    const size_t align = static_cast<size_t>(alignment);
    void* base = std::malloc(size + align + sizeof(AlignedHeader));
    if (base == nullptr)
        return nullptr;
    const auto first = reinterpret_cast<std::uintptr_t>(base) + sizeof(AlignedHeader);
    const std::uintptr_t aligned = (first + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    auto* header = reinterpret_cast<AlignedHeader*>(aligned) - 1;
    header->base = base;
    header->size = size;
    return reinterpret_cast<void*>(aligned);
}

void* orAbort(void* block) {
    if (block == nullptr)
        std::abort();
    return block;
}

// Searched while armed, then zeroed in any case: what the test itself left in a block must not come
// back in a later allocation and be taken for a copy made inside a scenario.
void release(void* block, size_t size, void* base) {
    freedprobe::inspect(block, size);
    SecureZeroMemory(block, size);
    std::free(base);
}

void releasePlain(void* block) {
    if (block != nullptr)
        release(block, _msize(block), block);
}

void releaseAligned(void* block) {
    if (block == nullptr)
        return;
    const AlignedHeader* header = static_cast<AlignedHeader*>(block) - 1;
    release(block, header->size, header->base);
}

} // namespace

void* operator new(size_t size) {
    return orAbort(allocatePlain(size));
}
void* operator new[](size_t size) {
    return orAbort(allocatePlain(size));
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocatePlain(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocatePlain(size);
}
void* operator new(size_t size, std::align_val_t alignment) {
    return orAbort(allocateAligned(size, alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
    return orAbort(allocateAligned(size, alignment));
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}

void operator delete(void* block) noexcept {
    releasePlain(block);
}
void operator delete[](void* block) noexcept {
    releasePlain(block);
}
void operator delete(void* block, size_t) noexcept {
    releasePlain(block);
}
void operator delete[](void* block, size_t) noexcept {
    releasePlain(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    releasePlain(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    releasePlain(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    releaseAligned(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    releaseAligned(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept {
    releaseAligned(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept {
    releaseAligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(block);
}
