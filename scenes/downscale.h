#pragma once
#include <cstdint>

// What the screens can show of a picture: the largest size it is drawn at, in picture pixels with the
// carousel's zoom included (0 x 0 keeps pictures as decoded), and the widest and narrowest shape
// (width / height) of the rectangles it covers (0: any).
struct SceneBound {
    uint32_t width = 0;
    uint32_t height = 0;
    float widestAspect = 0;
    float narrowestAspect = 0;
};

// The part of a picture that is kept (x, y, width, height in the picture) and the size it is kept at.
struct SceneKeep {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    uint32_t keptWidth = 0, keptHeight = 0;
};

// A picture wider (or taller) than any rectangle it covers loses the sides (or top and bottom) that
// no rectangle shows, with room for the carousel's sideways drift; the rest is scaled down evenly
// until it just covers the bound, or kept as it is when it is no larger already.
SceneKeep sceneKeep(uint32_t width, uint32_t height, SceneBound bound);

// Area-average downscale of premultiplied 32-bit pixels: each target pixel is the mean of the source
// area it covers, fractional edges weighted, so large reductions keep their detail without aliasing.
// Strides are in bytes; the target must not be larger than the source on either side.
void downscaleArea(const uint8_t* source, int sourceWidth, int sourceHeight, int sourceStride,
                   uint8_t* target, int targetWidth, int targetHeight, int targetStride);
