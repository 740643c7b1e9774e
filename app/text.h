#pragma once
#include <cstddef>
#include <cwchar>

// Fixed-capacity text fields keep at most capacity - 1 units and always their terminator.
inline void copyText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (capacity == 0)
        return;
    size_t n = 0;
    if (src != nullptr)
        while (n + 1 < capacity && src[n] != L'\0') {
            dst[n] = src[n];
            ++n;
        }
    dst[n] = L'\0';
}

template <size_t N> inline void copyText(wchar_t (&dst)[N], const wchar_t* src) {
    copyText(dst, N, src);
}
