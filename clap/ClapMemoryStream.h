// A CLAP stream over bytes in memory, for our own hosts (the tests and the
// validator): it moves at most `chunk` bytes a call (0: no limit) and fails
// from byte `failAfter` on (SIZE_MAX: never), within the call that reaches
// it, as a host's file or network stream may. Not for the plug-in itself.
#pragma once

#include "clap/stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

struct ClapMemoryStream {
    ClapMemoryStream() = default;
    ClapMemoryStream(const ClapMemoryStream&) = delete;
    ClapMemoryStream& operator=(const ClapMemoryStream&) = delete;

    std::vector<uint8_t> data;
    size_t position = 0;  // where the next read starts
    size_t chunk = 0;
    size_t failAfter = SIZE_MAX;
    clap_istream_t in{this, read};
    clap_ostream_t out{this, write};

private:
    static int64_t CLAP_ABI read(const clap_istream_t* stream, void* buffer, uint64_t size)
    {
        auto* self = static_cast<ClapMemoryStream*>(stream->ctx);
        if (self->position >= self->failAfter) return -1;
        uint64_t n = std::min<uint64_t>(size, self->data.size() - self->position);
        if (self->chunk) n = std::min<uint64_t>(n, self->chunk);
        n = std::min<uint64_t>(n, self->failAfter - self->position);
        if (n) std::memcpy(buffer, self->data.data() + self->position, n);
        self->position += n;
        return static_cast<int64_t>(n);
    }
    static int64_t CLAP_ABI write(const clap_ostream_t* stream, const void* buffer, uint64_t size)
    {
        auto* self = static_cast<ClapMemoryStream*>(stream->ctx);
        if (self->data.size() >= self->failAfter) return -1;
        uint64_t n = size;
        if (self->chunk) n = std::min<uint64_t>(n, self->chunk);
        n = std::min<uint64_t>(n, self->failAfter - self->data.size());
        const auto* p = static_cast<const uint8_t*>(buffer);
        self->data.insert(self->data.end(), p, p + n);
        return static_cast<int64_t>(n);
    }
};
