#include "gui/panel/TextDraw.h"

#include "gui/panel/AboutText.h"

#include <algorithm>

namespace about {

namespace {

uint8_t hexDigit(char c) noexcept { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10); }

uint32_t mix(uint32_t under, uint32_t colour, uint32_t coverage) noexcept
{
    uint32_t out = under & 0xFF000000u;
    for (int32_t shift = 0; shift < 24; shift += 8) {
        const uint32_t a = (under >> shift) & 0xFF, b = (colour >> shift) & 0xFF;
        out |= ((a * (255 - coverage) + b * coverage + 127) / 255) << shift;
    }
    return out;
}

// The lines between hard breaks: CR LF, LF and CR each end a line.
std::vector<std::string> hardLines(const std::string& text)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back().push_back(c);
        }
    }
    return lines;
}

}  // namespace

uint8_t GlyphFace::coverageAt(const Glyph& glyph, int32_t x, int32_t y) const noexcept
{
    const char* at = coverage + 2 * (size_t(glyph.coverage) + size_t(y) * glyph.width + x);
    return static_cast<uint8_t>(hexDigit(at[0]) << 4 | hexDigit(at[1]));
}

int32_t textWidth(const GlyphFace& face, const std::string& line)
{
    int32_t width = 0;
    for (unsigned char c : line)
        if (const Glyph* glyph = face.find(c)) width += glyph->advance;
    return width;
}

std::vector<std::string> breakLines(const GlyphFace& face, const std::string& text, int32_t width, bool wrap)
{
    std::vector<std::string> lines;
    for (const std::string& hard : hardLines(text)) {
        if (!wrap) {
            lines.push_back(hard);
            continue;
        }
        // Words go onto the line while it fits; the spaces where a line
        // breaks are dropped. A word wider than the box stays whole (and is
        // clipped).
        std::string line;
        size_t i = 0;
        while (i < hard.size()) {
            const size_t wordStart = hard.find_first_not_of(' ', i);
            if (wordStart == std::string::npos) {
                line += hard.substr(i);
                break;
            }
            size_t wordEnd = hard.find(' ', wordStart);
            if (wordEnd == std::string::npos) wordEnd = hard.size();
            const std::string candidate = line + hard.substr(i, wordEnd - i);
            if (!line.empty() && textWidth(face, candidate) > width) {
                lines.push_back(line);
                line = hard.substr(wordStart, wordEnd - wordStart);
            } else {
                line = candidate;
            }
            i = wordEnd;
        }
        lines.push_back(line);
    }
    return lines;
}

void drawRow(SkinPicture& picture, const GlyphFace& face, const std::string& text, uint32_t colour, int32_t left,
             int32_t top, int32_t right, int32_t bottom, bool wrap)
{
    if (picture.empty()) return;
    const int32_t clipRight = std::min(right, picture.width), clipBottom = std::min(bottom, picture.height);
    const int32_t clipLeft = std::max(left, 0), clipTop = std::max(top, 0);
    const std::vector<std::string> lines = breakLines(face, text, right - left, wrap);
    for (size_t n = 0; n < lines.size(); ++n) {
        // Centred as the Windows text drawing centres: the spare width halved toward zero.
        int32_t pen = left + (right - left - textWidth(face, lines[n])) / 2;
        const int32_t baseline = top + static_cast<int32_t>(n) * face.lineHeight + face.ascent;
        for (unsigned char c : lines[n]) {
            const Glyph* glyph = face.find(c);
            if (!glyph) continue;
            for (int32_t y = 0; y < glyph->height; ++y) {
                const int32_t py = baseline + glyph->top + y;
                if (py < clipTop || py >= clipBottom) continue;
                for (int32_t x = 0; x < glyph->width; ++x) {
                    const int32_t px = pen + glyph->left + x;
                    if (px < clipLeft || px >= clipRight) continue;
                    const uint8_t coverage = face.coverageAt(*glyph, x, y);
                    if (!coverage) continue;
                    uint32_t& pixel = picture.pixels[size_t(py) * picture.width + px];
                    pixel = mix(pixel, colour, coverage);
                }
            }
            pen += glyph->advance;
        }
    }
}

void drawAboutText(SkinPicture& picture, const char* platformWord, const char* buildDate)
{
    const std::string version = versionText(platformWord, buildDate);
    for (const Row& row : kRows)
        drawRow(picture, row.large ? kLargeFace : kSmallFace, row.text ? row.text : version, row.colour, row.left,
                row.top, row.right, row.bottom, row.wrap);
}

}  // namespace about
