#pragma once
// Text and numbers on surfaces: a line of text fitted into the surface (shrinking the font down
// to size 5), numbers drawn with the digit frames of a sprite, and the hint line at the bottom
// of the back image. Text is UTF-8; colours are colour references 0x00BBGGRR.
#include <cstdint>
#include <string>

#include "surface/DDUtils.h"

namespace zx {

extern std::string TextFontName;  // "Arial"

// Font style bits.
constexpr uint8_t fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

// hAlign: 0 starts at x, 1 ends at x, 2 centred; vAlign: 0 top at y, 1 centred, 2 bottom at y.
// size is in points at 96 dots per inch. The margins narrow the right and bottom limits.
void Printtosurface(int32_t x, int32_t y, int32_t marginA, int32_t marginB, int32_t marginC,
                    int32_t marginD, const std::string& text, uint8_t hAlign, uint8_t vAlign,
                    uint32_t colour, uint8_t outline, const std::string& fontName, int32_t size,
                    uint8_t style, DirectDrawSurface* surface);
void PrintText(int32_t x, int32_t y, const std::string& text, uint8_t hAlign, uint8_t vAlign,
               uint32_t colour, uint8_t outline, const std::string& fontName, int32_t size,
               uint8_t style, DirectDrawSurface* surface);

// Draws value (at least digits digits, '-' in front) with digitSprite's digit animations into
// the blank sheet of targetSprite; align 1 right, 2 centre, else left.
void Paintnumbertosurface(int32_t value, uint8_t digits, int targetSprite, int digitSprite,
                          uint8_t align);

// The hint line at the bottom of the back image (nothing while HintStripHeight is 0).
void DrawHintStrip(const std::string& text);

// The font file fontconfig gives for a family and style (empty when none).
std::string FontFileFor(const std::string& family, uint8_t style);
// Width and height in pixels of text in that font.
void MeasureText(const std::string& text, const std::string& fontName, int32_t size, uint8_t style,
                 int& width, int& height);

}  // namespace zx
