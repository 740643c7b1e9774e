#pragma once
#include <cstdint>

using Argb = uint32_t;

// The three theme colours, process-wide and set once at static initialisation.
extern const Argb ThemeText;
extern const Argb ThemeTextMuted;
extern const Argb ThemeAccent;

// The keyboard focus ring: an opaque near-white band with a near-black outline, one of which holds
// 3:1 contrast against anything under the ring; on the dark panels the outline melts into them.
inline constexpr Argb kFocusRingLight = 0xFFF4F8FC;
inline constexpr Argb kFocusRingDark = 0xFF05080D;

// The backdrop: the colour under the carousel picture, and the three scrims over it, which are that
// colour at varying alpha. Both the GDI+ drawing and the fast path's pixel layers read these.
inline constexpr Argb kBackdropColour = 0xFF070D16;

inline constexpr Argb backdropAt(uint32_t alpha) {
    return (alpha << 24) | (kBackdropColour & 0x00FFFFFFu);
}

struct ScrimStop {
    float at; // 0..1 along the gradient
    uint32_t alpha;
};
// Left to right over the whole canvas.
inline constexpr ScrimStop kSideScrim[] = {{0.0f, 0xE6}, {0.32f, 0xBE}, {0.62f, 0x2C}, {1.0f, 0x08}};
// Bottom: from a third of the canvas height (integer division) down to its foot.
inline constexpr ScrimStop kBottomScrim[] = {{0.0f, 0x00}, {1.0f, 0xFD}};
// Top: from the canvas top down kTopScrimHeight design units.
inline constexpr ScrimStop kTopScrim[] = {{0.0f, 0xC0}, {1.0f, 0x00}};
inline constexpr float kTopScrimHeight = 180.0f;

inline constexpr int bottomScrimTop(int H) {
    return H / 3;
}
