#pragma once
#include <cstdint>

// The largest picture the screens need, in picture pixels; 0 x 0 keeps pictures as decoded.
struct SceneBound {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The size a width x height picture is kept at: scaled down evenly until it just covers the bound
// (each side at least the bound's, one of them equal), or unchanged when it is no larger already.
void keptSceneSize(uint32_t width, uint32_t height, SceneBound bound, uint32_t& keptWidth,
                   uint32_t& keptHeight);

// Area-average downscale of premultiplied 32-bit pixels: each target pixel is the mean of the source
// area it covers, fractional edges weighted, so large reductions keep their detail without aliasing.
// Strides are in bytes; the target must not be larger than the source on either side.
void downscaleArea(const uint8_t* source, int sourceWidth, int sourceHeight, int sourceStride,
                   uint8_t* target, int targetWidth, int targetHeight, int targetStride);
