#pragma once
// Whole-frame pixel work of the fast frame path, on plain 32-bit BGRA rows (no window, no GDI+):
// scaling a scene picture into a frame-sized layer, the backdrop scrims, and composing layers.

#include <cstdint>

// Read-only picture rows: 3 (BGR) or 4 (BGRX, or premultiplied BGRA when `premultiplied`) bytes a pixel.
struct PixelSource {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int bytesPerPixel = 0;
    bool premultiplied = false;
};

// Part of a picture, in picture pixels, shown over the destination.
struct SourceCrop {
    float x, y, w, h;
};

// Bilinear scale of `crop` onto a destination whose full extent is extentW x extentH pixels (the
// design canvas times the scale, which may overhang the frame); only the frame's width x height
// pixels are written: opaque, or premultiplied for a premultiplied source. Pixel centres sit at
// half-pixel offsets on both sides.
void scaleCrop(const PixelSource& source, SourceCrop crop, float extentW, float extentH, uint32_t* frame,
               int width, int height);

// How far, in destination pixels, the picture moves between two crops (the larger of the edges).
float cropShift(SourceCrop a, SourceCrop b, float extentW, float extentH);

// Rows top..bottom and columns left..right of a frame-sized buffer.
struct PixelBox {
    int left, top, right, bottom;
};

// The three backdrop scrims combined into one premultiplied layer (they share one colour, so only
// the alpha varies), written over `box` of a layer `width` pixels wide: scale s maps the W x H design
// canvas onto the frame.
void fillScrimLayer(uint32_t* layer, int width, float s, int W, int H, PixelBox box);

// dst = over (premultiplied) on top of base, within box.
void composeOver(uint32_t* dst, const uint32_t* base, const uint32_t* over, int width, PixelBox box);

// As composeOver, with base = `from` faded into `to` by alpha (0..255 share of `to`).
void composeFadeOver(uint32_t* dst, const uint32_t* from, const uint32_t* to, uint32_t alpha,
                     const uint32_t* over, int width, PixelBox box);

// dst = solid opaque colour under `over`.
void composeSolidOver(uint32_t* dst, uint32_t colour, const uint32_t* over, int width, PixelBox box);
