// The about text drawn with the faces of AboutFont.h, laid out as the
// Windows editor's text drawing lays it out: lines broken at CR, LF or
// CR LF, and, for rows that wrap, between words where a line would pass
// the box's right edge; each line centred in the box, lines one face's
// line height apart from the box's top, everything clipped to the box.
#pragma once

#include "gui/panel/AboutFont.h"
#include "gui/panel/SkinPicture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace about {

// The width of a line: the sum of its glyphs' advances (no kerning).
int32_t textWidth(const GlyphFace& face, const std::string& line);

// The lines a row's text is drawn in.
std::vector<std::string> breakLines(const GlyphFace& face, const std::string& text, int32_t width, bool wrap);

// Draws one row onto an opaque picture in colour 0x00RRGGBB, each glyph
// pixel blended over what lies there by its coverage.
void drawRow(SkinPicture& picture, const GlyphFace& face, const std::string& text, uint32_t colour, int32_t left,
             int32_t top, int32_t right, int32_t bottom, bool wrap);

// Draws every row of the about text (AboutText.h) onto the about picture.
void drawAboutText(SkinPicture& picture, const char* platformWord, const char* buildDate);

}  // namespace about
