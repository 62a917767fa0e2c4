// The two faces the about text is drawn in where the platform's own fonts
// are not used: glyphs of printable ASCII rasterised ahead of time (see
// gui/panel/font/make_about_font.py) at the character heights the Windows
// editor asks for, with the line metrics Windows lays them out by.
#pragma once

#include <cstdint>

namespace about {

struct Glyph {
    int16_t advance;  // pixels from this glyph's pen position to the next one's
    int16_t left;     // first column, from the pen position
    int16_t top;      // first row, from the baseline (negative: above it)
    int16_t width;
    int16_t height;
    int32_t coverage;  // first coverage byte in the face's table
};

struct GlyphFace {
    int32_t characterHeight;
    int32_t ascent;      // baseline below a line's top
    int32_t lineHeight;  // ascent and descent
    int32_t firstCode;   // the code of glyphs[0]; the table runs to '~'
    const Glyph* glyphs;
    const char* coverage;  // two hex digits a pixel

    // The glyph of a character, or null for one the face does not have.
    const Glyph* find(unsigned char code) const noexcept
    {
        return code >= firstCode && code <= '~' ? &glyphs[code - firstCode] : nullptr;
    }
    // The coverage 0..255 of pixel (x, y) of a glyph.
    uint8_t coverageAt(const Glyph& glyph, int32_t x, int32_t y) const noexcept;
};

extern const GlyphFace kSmallFace;  // 12 pixels
extern const GlyphFace kLargeFace;  // 20 pixels

}  // namespace about
