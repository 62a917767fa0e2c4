// Files the Linux library carries inside itself (its skin PNGs), made into
// byte arrays at build time by gui/x11/EmbedFiles.cmake.
#pragma once

#include <cstddef>
#include <cstdint>

struct EmbeddedFile {
    int id;
    const unsigned char* data;
    size_t size;
};

extern const EmbeddedFile kEmbeddedFiles[];
extern const int32_t kEmbeddedFileCount;
