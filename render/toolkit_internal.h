#pragma once
#include "render/toolkit.h"

#include <string>

// The text primitives with the family named by the caller instead of the role's own, so the
// fallback to the generic sans serif can be exercised with a family that is not installed.
void drawTextInFamily(DrawContext& ctx, const wchar_t* family, const wchar_t* text, DesignRect rect,
                      float size, Gdiplus::ARGB colour, int bold, int alignment);
void drawTitleInFamily(DrawContext& ctx, const wchar_t* family, const wchar_t* text, DesignRect rect,
                       float size, Gdiplus::ARGB colour);

// The text a drawText (or, with title, a drawTitle) call shows in rect: the whole text when it fits,
// else its longest start that fits followed by "…".
std::wstring textAsDrawn(DrawContext& ctx, const wchar_t* text, DesignRect rect, float size, int bold,
                         bool title);
