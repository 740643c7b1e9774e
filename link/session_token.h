#pragma once
#include <windows.h>

#include <cstddef>
#include <string_view>

// The bearer token of the service session: URL-safe Base64 bytes in a fixed buffer, so no copy is
// ever left behind by a reallocation; zeroed whenever it is cleared, replaced or released.
struct SessionToken {
    static constexpr size_t kCapacity = 512;
    char bytes[kCapacity] = {};
    size_t length = 0;

    SessionToken() = default;
    SessionToken(const SessionToken&) = default;
    SessionToken& operator=(const SessionToken& other) {
        if (this != &other) {
            wipe();
            CopyMemory(bytes, other.bytes, other.length);
            length = other.length;
        }
        return *this;
    }
    ~SessionToken() { wipe(); }

    std::string_view view() const { return {bytes, length}; }
    bool empty() const { return length == 0; }

    // Replaces the token; longer than the capacity leaves it empty and returns false.
    bool assign(std::string_view text) {
        wipe();
        if (text.size() > kCapacity)
            return false;
        CopyMemory(bytes, text.data(), text.size());
        length = text.size();
        return true;
    }

    void wipe() {
        SecureZeroMemory(bytes, sizeof bytes);
        length = 0;
    }
};
