#include "render/pixel_layers.h"

#include "render/theme.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

// One destination column or row: the two picture samples it blends and the weight of the second.
struct Tap {
    int first, second; // byte offsets for columns, row indexes for rows
    int weight;        // 0..128, the share of the second sample
};

std::vector<Tap> taps(int count, float cropStart, float cropSize, float extent, int limit) {
    std::vector<Tap> out(static_cast<size_t>(count));
    const float step = cropSize / extent;
    for (int i = 0; i < count; ++i) {
        float at = cropStart + (static_cast<float>(i) + 0.5f) * step - 0.5f;
        at = std::clamp(at, 0.0f, static_cast<float>(limit - 1));
        const int first = static_cast<int>(at);
        const int second = std::min(first + 1, limit - 1);
        out[static_cast<size_t>(i)] = {first, second, static_cast<int>((at - first) * 128.0f + 0.5f)};
    }
    return out;
}

// Four bytes of a picture pixel; a 3-byte pixel at the very end of the picture is read byte by byte.
template <int Bytes, bool Exact> inline uint32_t fetch(const uint8_t* p) {
    uint32_t v;
    if (Bytes == 4 || !Exact) {
        std::memcpy(&v, p, 4);
        return v;
    }
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

inline __m128i widen(uint32_t a, uint32_t b) {
    return _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(a)), _mm_cvtsi32_si128(static_cast<int>(b))),
        _mm_setzero_si128());
}

// a + (b - a) * w / 128 on 16-bit lanes.
inline __m128i lerp16(__m128i a, __m128i b, __m128i w) {
    return _mm_add_epi16(a, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(b, a), w), 7));
}

template <int Bytes, bool Exact>
void scaleRow(const uint8_t* top, const uint8_t* bottom, int rowWeight, const Tap* columns, uint32_t* out,
              int width, uint32_t opaque) {
    const __m128i wy = _mm_set1_epi16(static_cast<short>(rowWeight));
    for (int x = 0; x < width; ++x) {
        const Tap& c = columns[x];
        const __m128i upper = widen(fetch<Bytes, Exact>(top + c.first), fetch<Bytes, Exact>(top + c.second));
        const __m128i lower =
            widen(fetch<Bytes, Exact>(bottom + c.first), fetch<Bytes, Exact>(bottom + c.second));
        const __m128i v = lerp16(upper, lower, wy); // left pixel in the low half, right in the high
        const __m128i h = lerp16(v, _mm_srli_si128(v, 8), _mm_set1_epi16(static_cast<short>(c.weight)));
        out[x] = opaque | static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(h, h)));
    }
}

template <int Bytes>
void scaleRows(const PixelSource& source, const std::vector<Tap>& columns, const std::vector<Tap>& rows,
               uint32_t* frame, int width) {
    for (size_t y = 0; y < rows.size(); ++y) {
        const Tap& r = rows[y];
        const uint8_t* top = source.bits + static_cast<ptrdiff_t>(r.first) * source.stride;
        const uint8_t* bottom = source.bits + static_cast<ptrdiff_t>(r.second) * source.stride;
        uint32_t* out = frame + y * static_cast<size_t>(width);
        const uint32_t opaque = source.premultiplied ? 0 : 0xFF000000u;
        // Only the last picture row could be over-read by a 4-byte load of a 3-byte pixel.
        if (r.second == source.height - 1)
            scaleRow<Bytes, true>(top, bottom, r.weight, columns.data(), out, width, opaque);
        else
            scaleRow<Bytes, false>(top, bottom, r.weight, columns.data(), out, width, opaque);
    }
}

// (a * b + 127) / 255 for bytes, exact.
inline uint32_t mul255(uint32_t a, uint32_t b) {
    const uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

// Premultiplied `over` on an opaque base, per channel.
inline uint32_t over(uint32_t base, uint32_t top) {
    const uint32_t keep = 255 - (top >> 24);
    if (keep == 255)
        return base;
    if (keep == 0)
        return top | 0xFF000000u;
    const uint32_t b = (top & 0xFF) + mul255(base & 0xFF, keep);
    const uint32_t g = ((top >> 8) & 0xFF) + mul255((base >> 8) & 0xFF, keep);
    const uint32_t r = ((top >> 16) & 0xFF) + mul255((base >> 16) & 0xFF, keep);
    return 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
}

inline uint32_t mix(uint32_t from, uint32_t to, uint32_t alpha) {
    const uint32_t keep = 255 - alpha;
    const uint32_t b = mul255(from & 0xFF, keep) + mul255(to & 0xFF, alpha);
    const uint32_t g = mul255((from >> 8) & 0xFF, keep) + mul255((to >> 8) & 0xFF, alpha);
    const uint32_t r = mul255((from >> 16) & 0xFF, keep) + mul255((to >> 16) & 0xFF, alpha);
    return 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
}

// Linear interpolation of an alpha ramp given as stops (position, alpha), clamped at both ends.
float rampAt(const float* positions, const float* alphas, int count, float t) {
    if (t <= positions[0])
        return alphas[0];
    for (int i = 1; i < count; ++i) {
        if (t <= positions[i]) {
            const float f = (t - positions[i - 1]) / (positions[i] - positions[i - 1]);
            return alphas[i - 1] + (alphas[i] - alphas[i - 1]) * f;
        }
    }
    return alphas[count - 1];
}

} // namespace

void scaleCrop(const PixelSource& source, SourceCrop crop, float extentW, float extentH, uint32_t* frame,
               int width, int height) {
    if (source.bits == nullptr || source.width < 1 || source.height < 1 || width < 1 || height < 1 ||
        extentW <= 0 || extentH <= 0)
        return;
    std::vector<Tap> columns = taps(width, crop.x, crop.w, extentW, source.width);
    for (Tap& c : columns) {
        c.first *= source.bytesPerPixel;
        c.second *= source.bytesPerPixel;
    }
    const std::vector<Tap> rows = taps(height, crop.y, crop.h, extentH, source.height);
    if (source.bytesPerPixel == 3)
        scaleRows<3>(source, columns, rows, frame, width);
    else
        scaleRows<4>(source, columns, rows, frame, width);
}

float cropShift(SourceCrop a, SourceCrop b, float extentW, float extentH) {
    const float kx = extentW / std::max(a.w, 1e-3f), ky = extentH / std::max(a.h, 1e-3f);
    const float left = std::fabs(a.x - b.x) * kx, right = std::fabs(a.x + a.w - b.x - b.w) * kx;
    const float top = std::fabs(a.y - b.y) * ky, bottom = std::fabs(a.y + a.h - b.y - b.h) * ky;
    return std::max(std::max(left, right), std::max(top, bottom));
}

void fillScrimLayer(uint32_t* layer, int width, float s, int W, int H, PixelBox box) {
    constexpr int kSideStops = static_cast<int>(std::size(kSideScrim));
    float sideAt[kSideStops], sideAlpha[kSideStops];
    for (int i = 0; i < kSideStops; ++i) {
        sideAt[i] = kSideScrim[i].at;
        sideAlpha[i] = kSideScrim[i].alpha / 255.0f;
    }
    std::vector<float> sideClear(static_cast<size_t>(width));
    for (int x = box.left; x < box.right; ++x) {
        const float t = (static_cast<float>(x) + 0.5f) / s / static_cast<float>(W);
        sideClear[static_cast<size_t>(x)] = 1.0f - rampAt(sideAt, sideAlpha, kSideStops, t);
    }
    const float third = static_cast<float>(bottomScrimTop(H));
    const float bottomAt[] = {third, static_cast<float>(H)};
    const float bottomAlpha[] = {kBottomScrim[0].alpha / 255.0f, kBottomScrim[1].alpha / 255.0f};
    const float topAt[] = {0.0f, kTopScrimHeight};
    const float topAlpha[] = {kTopScrim[0].alpha / 255.0f, kTopScrim[1].alpha / 255.0f};
    const uint32_t red = (kBackdropColour >> 16) & 0xFF, green = (kBackdropColour >> 8) & 0xFF,
                   blue = kBackdropColour & 0xFF;
    for (int y = box.top; y < box.bottom; ++y) {
        const float v = (static_cast<float>(y) + 0.5f) / s;
        const float bottom = v >= third ? rampAt(bottomAt, bottomAlpha, 2, v) : 0.0f;
        const float top = v < kTopScrimHeight ? rampAt(topAt, topAlpha, 2, v) : 0.0f;
        const float rowClear = (1.0f - bottom) * (1.0f - top);
        uint32_t* out = layer + static_cast<size_t>(y) * width;
        for (int x = box.left; x < box.right; ++x) {
            const uint32_t a =
                static_cast<uint32_t>((1.0f - sideClear[static_cast<size_t>(x)] * rowClear) * 255.0f + 0.5f);
            out[x] = (a << 24) | (mul255(red, a) << 16) | (mul255(green, a) << 8) | mul255(blue, a);
        }
    }
}

namespace {

// x / 255 for 16-bit lanes holding up to 255 * 255, rounded.
inline __m128i div255(__m128i x) {
    x = _mm_add_epi16(x, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
}

// Each pixel's alpha copied to its four 16-bit lanes (two pixels a register).
inline __m128i alphas(__m128i px16) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(px16, 0xFF), 0xFF);
}

// base * (255 - topAlpha) / 255 + top, for two pixels in 16-bit lanes; the result is opaque.
inline __m128i over16(__m128i base, __m128i top) {
    const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), alphas(top));
    return _mm_add_epi16(div255(_mm_mullo_epi16(base, keep)), top);
}

// from * (255 - alpha) / 255 + to * alpha / 255.
inline __m128i mix16(__m128i from, __m128i to, __m128i alpha) {
    const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), alpha);
    return _mm_add_epi16(div255(_mm_mullo_epi16(from, keep)), div255(_mm_mullo_epi16(to, alpha)));
}

// Four pixels at a time through `four` (a function of the index), the rest of a row through `one`.
template <typename Four, typename One>
void composeRows(uint32_t* dst, int width, PixelBox box, Four four, One one) {
    for (int y = box.top; y < box.bottom; ++y) {
        const size_t row = static_cast<size_t>(y) * width;
        int x = box.left;
        for (; x + 4 <= box.right; x += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + row + x), four(row + x));
        for (; x < box.right; ++x)
            dst[row + x] = one(row + x);
    }
}

inline __m128i load4(const uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Applies a two-pixel operation on 16-bit lanes to four pixels; the result is made opaque.
template <typename Op> inline __m128i byHalves(__m128i a, __m128i b, Op op) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = op(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi = op(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    return _mm_or_si128(_mm_packus_epi16(lo, hi), _mm_set1_epi32(static_cast<int>(0xFF000000u)));
}

} // namespace

void composeOver(uint32_t* dst, const uint32_t* base, const uint32_t* top, int width, PixelBox box) {
    composeRows(
        dst, width, box, [&](size_t at) { return byHalves(load4(base + at), load4(top + at), over16); },
        [&](size_t at) { return over(base[at], top[at]); });
}

void composeFadeOver(uint32_t* dst, const uint32_t* from, const uint32_t* to, uint32_t alpha,
                     const uint32_t* top, int width, PixelBox box) {
    const __m128i a = _mm_set1_epi16(static_cast<short>(alpha));
    composeRows(
        dst, width, box,
        [&](size_t at) {
            const __m128i mixed = byHalves(load4(from + at), load4(to + at),
                                           [&](__m128i f, __m128i t) { return mix16(f, t, a); });
            return byHalves(mixed, load4(top + at), over16);
        },
        [&](size_t at) { return over(mix(from[at], to[at], alpha), top[at]); });
}

void composeSolidOver(uint32_t* dst, uint32_t colour, const uint32_t* top, int width, PixelBox box) {
    const __m128i base = _mm_set1_epi32(static_cast<int>(colour | 0xFF000000u));
    composeRows(
        dst, width, box, [&](size_t at) { return byHalves(base, load4(top + at), over16); },
        [&](size_t at) { return over(colour | 0xFF000000u, top[at]); });
}
