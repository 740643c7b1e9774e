#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

// Secrets (the session token, bodies and headers that carried it) are zeroed before their memory
// goes back to the heap. The whole capacity is cleared, not just the current length, because
// earlier contents may sit beyond it.
template <typename Char, typename Traits, typename Allocator>
void wipeString(std::basic_string<Char, Traits, Allocator>& text) {
    text.resize(text.capacity());
    SecureZeroMemory(text.data(), text.size() * sizeof(Char));
    text.clear();
}

// An allocator that zeroes every block before giving it back, so a container that held a secret
// leaves nothing behind, however often it grew or shrank on the way.
template <typename T> struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <typename U> WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
    void deallocate(T* block, size_t count) noexcept {
        SecureZeroMemory(block, count * sizeof(T));
        std::allocator<T>().deallocate(block, count);
    }

    template <typename U> bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};
