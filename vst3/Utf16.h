// UTF-8 <-> UTF-16 for the texts VST3 hosts exchange (names, units, value
// texts), cut to the host's buffer and always terminated. Malformed UTF-8
// bytes become U+FFFD; characters beyond the basic plane become surrogate
// pairs. [any thread; never allocates]
#pragma once

#include <cstddef>
#include <cstdint>

namespace vst3 {

// Writes `text` into `out` of `size` units (size >= 1), terminated.
inline void toUtf16(const char* text, char16_t* out, size_t size) noexcept
{
    if (!out || size == 0) return;
    size_t n = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*p && n + 1 < size) {
        uint32_t c = *p++;
        int more = 0;
        if (c >= 0xF0 && c < 0xF8) {
            c &= 0x07;
            more = 3;
        } else if (c >= 0xE0) {
            c &= 0x0F;
            more = 2;
        } else if (c >= 0xC0) {
            c &= 0x1F;
            more = 1;
        } else if (c >= 0x80) {
            c = 0xFFFD;
        }
        for (; more > 0; --more) {
            if ((*p & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = (c << 6) | (*p++ & 0x3F);
        }
        if (c >= 0x10000) {
            if (n + 2 >= size) break;
            c -= 0x10000;
            out[n++] = static_cast<char16_t>(0xD800 + (c >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out[n++] = static_cast<char16_t>(c);
        }
    }
    out[n] = 0;
}

// Writes the UTF-16 text `text` (terminated, or `maxUnits` long) into `out`
// of `size` bytes as UTF-8, terminated; false when it did not fit.
inline bool toUtf8(const char16_t* text, size_t maxUnits, char* out, size_t size) noexcept
{
    if (!out || size == 0) return false;
    size_t n = 0;
    for (size_t i = 0; text && i < maxUnits && text[i]; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        char buf[4];
        size_t len;
        if (c < 0x80) {
            buf[0] = static_cast<char>(c);
            len = 1;
        } else if (c < 0x800) {
            buf[0] = static_cast<char>(0xC0 | (c >> 6));
            buf[1] = static_cast<char>(0x80 | (c & 0x3F));
            len = 2;
        } else if (c < 0x10000) {
            buf[0] = static_cast<char>(0xE0 | (c >> 12));
            buf[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buf[2] = static_cast<char>(0x80 | (c & 0x3F));
            len = 3;
        } else {
            buf[0] = static_cast<char>(0xF0 | (c >> 18));
            buf[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            buf[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buf[3] = static_cast<char>(0x80 | (c & 0x3F));
            len = 4;
        }
        if (n + len + 1 > size) {
            out[n] = 0;
            return false;
        }
        for (size_t k = 0; k < len; ++k) out[n++] = buf[k];
    }
    out[n] = 0;
    return true;
}

}  // namespace vst3
