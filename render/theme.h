#pragma once
#include <cstdint>

using Argb = uint32_t;

// The three theme colours, process-wide and set once at static initialisation; every other colour
// is a literal where it is used.
extern const Argb ThemeText;
extern const Argb ThemeTextMuted;
extern const Argb ThemeAccent;
