// The panel's skin pictures on Linux: the PNG files embedded in the library,
// decoded with libpng into the pixel layout the Windows decoder gives
// (premultiplied blue, green, red, alpha bytes, rows top first), so that
// the same state composes to the same picture on both platforms.
#pragma once

#include "gui/panel/SkinPicture.h"

#include <cstddef>

// Decodes one PNG held in memory; false (and `picture` left empty) when
// the bytes are not a PNG libpng can read.
bool decodePng(const unsigned char* bytes, size_t size, SkinPicture& picture);

// The ten skins, decoded on the first call and kept for the life of the
// library; a skin that does not decode is empty. [any thread]
const SkinSet& embeddedSkins();
