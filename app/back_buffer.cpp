#include "app/back_buffer.h"

#include "app/owned.h"

BackBuffer::~BackBuffer() {
    releaseBackBuffer(*this);
}

bool ensureBackBuffer(BackBuffer& buffer, HDC windowDc, int width, int height) {
    if (width < 1 || height < 1 || static_cast<int64_t>(width) * height > 64000000)
        return false;
    if (buffer.dc != nullptr && buffer.bitmap != nullptr && buffer.width == width && buffer.height == height)
        return true;
    if (buffer.dc == nullptr) {
        buffer.dc = CreateCompatibleDC(windowDc);
        if (buffer.dc == nullptr)
            return false;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    OwnedBitmapHandle bitmap(CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap || pixels == nullptr)
        return false;
    HGDIOBJ previous = SelectObject(buffer.dc, bitmap.get());
    if (previous == nullptr || previous == HGDI_ERROR)
        return false;
    if (buffer.firstBitmap == nullptr)
        buffer.firstBitmap = previous;
    if (buffer.bitmap != nullptr)
        DeleteObject(buffer.bitmap);
    buffer.bitmap = bitmap.release();
    buffer.pixels = pixels;
    buffer.width = width;
    buffer.height = height;
    ++buffer.recreations;
    return true;
}

void releaseBackBuffer(BackBuffer& buffer) {
    if (buffer.dc != nullptr && buffer.firstBitmap != nullptr)
        SelectObject(buffer.dc, buffer.firstBitmap);
    if (buffer.bitmap != nullptr)
        DeleteObject(buffer.bitmap);
    if (buffer.dc != nullptr)
        DeleteDC(buffer.dc);
    buffer.dc = nullptr;
    buffer.bitmap = nullptr;
    buffer.firstBitmap = nullptr;
    buffer.pixels = nullptr;
    buffer.width = buffer.height = 0;
}
