#pragma once
#include <windows.h>

#include <cstdint>

// The off-screen frame: a 32-bit top-down DIB section in a memory context, reused while the
// client size stays the same.
struct BackBuffer {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ firstBitmap = nullptr;
    void* pixels = nullptr;
    int width = 0;
    int height = 0;
    uint32_t recreations = 0;

    BackBuffer() = default;
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;
    ~BackBuffer();
};

bool ensureBackBuffer(BackBuffer& buffer, HDC windowDc, int width, int height);
void releaseBackBuffer(BackBuffer& buffer);
