#include "gui/x11/SkinDecoder.h"

#include "gui/x11/EmbeddedFiles.h"

#include <png.h>

#include <vector>

bool decodePng(const unsigned char* bytes, size_t size, SkinPicture& picture)
{
    picture = SkinPicture{};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes, size)) return false;
    // Straight 8-bit colour with alpha, as the file holds it (an opaque file
    // reads with alpha 255); premultiplied below exactly as Windows does it.
    image.format = PNG_FORMAT_BGRA;
    const size_t pixels = size_t(image.width) * image.height;
    if (image.width == 0 || image.height == 0 || image.width > 16384 || image.height > 16384) {
        png_image_free(&image);
        return false;
    }
    std::vector<png_byte> straight(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, straight.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    picture.width = static_cast<int32_t>(image.width);
    picture.height = static_cast<int32_t>(image.height);
    picture.pixels.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const png_byte* p = &straight[i * 4];
        picture.pixels[i] = premultiply(p[2], p[1], p[0], p[3]);
    }
    return true;
}

const SkinSet& embeddedSkins()
{
    static const SkinSet skins = [] {
        SkinSet decoded;
        for (int32_t i = 0; i < kEmbeddedFileCount; ++i)
            decodePng(kEmbeddedFiles[i].data, kEmbeddedFiles[i].size, decoded[kEmbeddedFiles[i].id]);
        return decoded;
    }();
    return skins;
}
