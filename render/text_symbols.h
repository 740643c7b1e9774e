#pragma once
#include "render/geometry.h"

#include <string_view>

// The check mark and arrow at the end of some labels ("VINCULADO  ✓", "CONTINUAR  →") are drawn as
// strokes, not as glyphs: a substitute for the text font without them would show an empty box. The
// labels keep the character, so each text stays one fact; the toolkit draws the part before it as
// text and the symbol where its glyph would stand.

enum class TextSymbol { None, Check, Arrow };

// A label split at a trailing symbol: `lead` is the text before it (spaces included), `symbol` None
// when the label ends in neither.
struct SymbolLabel {
    std::wstring_view lead;
    TextSymbol symbol;
};
SymbolLabel splitTrailingSymbol(std::wstring_view text);

// A symbol takes the advance of the glyph it replaces, a fixed share of the em size, so the label
// measures the same on every system whatever the font has.
inline constexpr float kSymbolAdvanceEm = 0.84f;

// Where a label of lead text `leadWidth` wide (as the text measurer reports it, padding included)
// and its symbol go in `rect` with the given alignment (0 near, 1 centre, 2 far): the lead text starts
// at leadX, the symbol fills symbolBox (advance wide, one em high, centred on the text's line).
struct SymbolPlacement {
    float leadX;
    DesignRect symbolBox;
};
SymbolPlacement placeSymbol(DesignRect rect, float leadWidth, float size, int alignment);

// The symbol's strokes in its box: up to two polylines (counts[i] points each, 0 = none) drawn with
// one pen width, heavier for bold text.
struct SymbolStrokes {
    DesignPoint lines[2][3];
    int counts[2];
    float width;
};
SymbolStrokes symbolStrokes(TextSymbol symbol, DesignRect box, bool bold);
