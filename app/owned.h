#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <type_traits>
#include <utility>

// One owner for every GDI+ and GDI object: the object is released exactly once, by the function its
// kind names, however the function that made it returns.
template <typename T, auto Release> class Owned {
  public:
    Owned() = default;
    explicit Owned(T* object) : object_(object) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~Owned() { reset(); }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For the creating call's out parameter; whatever was held goes first.
    T** out() {
        reset();
        return &object_;
    }
    T* release() { return std::exchange(object_, nullptr); }
    void reset(T* object = nullptr) {
        if (object_ != nullptr)
            Release(object_);
        object_ = object;
    }

  private:
    T* object_ = nullptr;
};

using OwnedImage = Owned<Gdiplus::GpImage, Gdiplus::DllExports::GdipDisposeImage>;
using OwnedBitmap = Owned<Gdiplus::GpBitmap, Gdiplus::DllExports::GdipDisposeImage>;
using OwnedGraphics = Owned<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>;
using OwnedPen = Owned<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>;
using OwnedBrush = Owned<Gdiplus::GpSolidFill, Gdiplus::DllExports::GdipDeleteBrush>;
using OwnedPath = Owned<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>;
using OwnedMatrix = Owned<Gdiplus::GpMatrix, Gdiplus::DllExports::GdipDeleteMatrix>;
using OwnedFont = Owned<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>;
using OwnedFontFamily = Owned<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>;
using OwnedStringFormat = Owned<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>;
using OwnedImageAttributes =
    Owned<Gdiplus::GpImageAttributes, Gdiplus::DllExports::GdipDisposeImageAttributes>;

inline void releaseGdiObject(HGDIOBJ object) {
    DeleteObject(object);
}
inline void releaseStream(IStream* stream) {
    stream->Release();
}
using OwnedBitmapHandle = Owned<std::remove_pointer_t<HBITMAP>, releaseGdiObject>;
using OwnedStream = Owned<IStream, releaseStream>;
