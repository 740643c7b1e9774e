#include "render/text_symbols.h"

namespace {

constexpr wchar_t kCheck = L'\u2713';
constexpr wchar_t kArrow = L'\u2192';
// The measurer pads a string by about a sixth of an em on each side; the symbol sits inside the
// trailing pad of its lead text, as its glyph did.
constexpr float kPadEm = 1.0f / 6.0f;
// Capitals stand a little below the centre of their line.
constexpr float kCapCentreEm = 0.03f;

} // namespace

SymbolLabel splitTrailingSymbol(std::wstring_view text) {
    if (text.empty())
        return {text, TextSymbol::None};
    const wchar_t last = text.back();
    if (last == kCheck)
        return {text.substr(0, text.size() - 1), TextSymbol::Check};
    if (last == kArrow)
        return {text.substr(0, text.size() - 1), TextSymbol::Arrow};
    return {text, TextSymbol::None};
}

SymbolPlacement placeSymbol(DesignRect rect, float leadWidth, float size, int alignment) {
    const float advance = kSymbolAdvanceEm * size;
    const float pad = kPadEm * size;
    const float total = leadWidth + advance;
    float x = rect.x;
    if (alignment == 1)
        x = rect.x + (rect.w - total) / 2;
    else if (alignment == 2)
        x = rect.x + rect.w - total;
    const float cy = rect.y + rect.h / 2 + kCapCentreEm * size;
    return {x, {x + leadWidth - pad, cy - size / 2, advance, size}};
}

SymbolStrokes symbolStrokes(TextSymbol symbol, DesignRect box, bool bold) {
    const float em = box.h;
    const float cx = box.x + box.w / 2, cy = box.y + box.h / 2;
    const float width = em * (bold ? 0.11f : 0.085f);
    SymbolStrokes strokes{};
    switch (symbol) {
    case TextSymbol::Check:
        strokes = {
            {{{cx - 0.26f * em, cy}, {cx - 0.08f * em, cy + 0.2f * em}, {cx + 0.28f * em, cy - 0.26f * em}},
             {}},
            {3, 0},
            width};
        break;
    case TextSymbol::Arrow:
        strokes = {
            {{{cx - 0.3f * em, cy}, {cx + 0.3f * em, cy}, {}},
             {{cx + 0.1f * em, cy - 0.2f * em}, {cx + 0.3f * em, cy}, {cx + 0.1f * em, cy + 0.2f * em}}},
            {2, 3},
            width};
        break;
    case TextSymbol::None:
        break;
    }
    return strokes;
}
