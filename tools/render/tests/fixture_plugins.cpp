// Stand-in plug-in libraries for the host's tests, one per compile definition:
//   FIXTURE_NO_ENTRY     exports no entry point
//   FIXTURE_NULL         its entry point makes no instance
//   FIXTURE_BAD_MAGIC    makes an instance without the VST magic, whose dispatcher
//                        must not be called (it says so on stderr when it is)
//   FIXTURE_NO_OUTPUTS   makes a proper instance that has no audio outputs
//   FIXTURE_PASSTHROUGH  a 2-in/2-out effect that copies input to output exactly
//   FIXTURE_DELAY        a 2-in/2-out effect that delays its input by kDelay frames and,
//                        like the real plug-in, reports so from its first block on
//   FIXTURE_TERM_AT_STOP  a passthrough that sends itself SIGTERM when processing is
//                        switched off, after its last block
//   FIXTURE_TERM_AT_CLOSE a passthrough that sends itself SIGTERM when it is closed,
//                        after the render is complete
//   FIXTURE_ABORT        a passthrough that aborts in its first block
// The last six count their instances and, when the library is unloaded with
// one never closed by effClose, say so on stderr.
#include "plugin/vst2abi.h"

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(FIXTURE_NO_ENTRY)

FIXTURE_EXPORT int fixtureSomethingElse() { return 42; }

#elif defined(FIXTURE_NULL)

FIXTURE_EXPORT AEffect* VSTPluginMain(audioMasterCallback) { return nullptr; }

#elif defined(FIXTURE_BAD_MAGIC)

#include <cstdio>

namespace {

intptr_t dispatch(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    std::fprintf(stderr, "fixture: the host called the dispatcher (opcode %d) of an instance without the magic\n",
                 static_cast<int>(opcode));
    return 0;
}

AEffect instance{};

}  // namespace

FIXTURE_EXPORT AEffect* VSTPluginMain(audioMasterCallback) {
    instance.magic = 0x12345678;
    instance.dispatcher = dispatch;
    instance.numOutputs = 2;
    return &instance;
}

#elif defined(FIXTURE_PASSTHROUGH) || defined(FIXTURE_DELAY) || defined(FIXTURE_NO_OUTPUTS) || \
    defined(FIXTURE_TERM_AT_STOP) || defined(FIXTURE_TERM_AT_CLOSE) || defined(FIXTURE_ABORT)

#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kDelay = 37;

struct Instance {
    AEffect fx{};  // first, so an AEffect* is also an Instance*
    std::array<std::array<float, kDelay>, 2> line{};  // the last kDelay input frames, a ring
    std::size_t pos = 0;                               // the oldest of them
};

int openInstances = 0;

struct LeakReport {
    ~LeakReport() {
        if (openInstances != 0) std::fprintf(stderr, "fixture: %d instance(s) never closed\n", openInstances);
    }
} leakReport;

intptr_t dispatch(AEffect* fx, int32_t opcode, int32_t, intptr_t value, void* ptr, float) {
    switch (opcode) {
    case effClose:
        delete reinterpret_cast<Instance*>(fx);
        --openInstances;
#if defined(FIXTURE_TERM_AT_CLOSE)
        ::raise(SIGTERM);
#endif
        return 1;
    case effMainsChanged:
#if defined(FIXTURE_TERM_AT_STOP)
        if (value == 0) ::raise(SIGTERM);
#endif
        (void)value;
        return 0;
    case effGetParamName:
        std::strcpy(static_cast<char*>(ptr), "Unused");
        return 0;
    case effGetParamDisplay:
        std::strcpy(static_cast<char*>(ptr), "0");
        return 0;
    default:
        return 0;
    }
}

void process(AEffect* fx, float** in, float** out, int32_t frames) {
#if defined(FIXTURE_DELAY)
    auto* self = reinterpret_cast<Instance*>(fx);
    for (int32_t i = 0; i < frames; ++i) {
        for (std::size_t ch = 0; ch < 2; ++ch) {
            const float x = in[ch][i];
            out[ch][i] = self->line[ch][self->pos];
            self->line[ch][self->pos] = x;
        }
        self->pos = (self->pos + 1) % kDelay;
    }
    fx->initialDelay = kDelay;  // known once processing has begun, as with the real plug-in
#else
    (void)fx;
#if defined(FIXTURE_ABORT)
    std::abort();
#endif
    for (int ch = 0; ch < 2; ++ch) std::copy_n(in[ch], frames, out[ch]);
#endif
}

}  // namespace

FIXTURE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* self = new Instance{};
    ++openInstances;
    AEffect* fx = &self->fx;
    fx->magic = kEffectMagic;
    fx->dispatcher = dispatch;
    fx->numParams = 1;
    fx->numInputs = 2;
#if defined(FIXTURE_NO_OUTPUTS)
    fx->numOutputs = 0;
#else
    fx->numOutputs = 2;
#endif
    fx->flags = effFlagsCanReplacing;
    fx->processReplacing = process;
    return fx;
}

#endif
