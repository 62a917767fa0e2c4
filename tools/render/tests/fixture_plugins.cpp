// Stand-in plug-in libraries for the host's tests, one per compile definition:
//   FIXTURE_NO_ENTRY     exports no entry point
//   FIXTURE_NULL         its entry point makes no instance
//   FIXTURE_PASSTHROUGH  a 2-in/2-out effect that copies input to output exactly
#include "plugin/vst2abi.h"

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(FIXTURE_NO_ENTRY)

FIXTURE_EXPORT int fixtureSomethingElse() { return 42; }

#elif defined(FIXTURE_NULL)

FIXTURE_EXPORT AEffect* VSTPluginMain(audioMasterCallback) { return nullptr; }

#elif defined(FIXTURE_PASSTHROUGH)

#include <algorithm>
#include <cstring>

namespace {

intptr_t dispatch(AEffect* fx, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
    switch (opcode) {
    case effClose:
        delete fx;
        return 1;
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

void copy(AEffect*, float** in, float** out, int32_t frames) {
    for (int ch = 0; ch < 2; ++ch) std::copy_n(in[ch], frames, out[ch]);
}

}  // namespace

FIXTURE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
    if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* fx = new AEffect{};
    fx->magic = kEffectMagic;
    fx->dispatcher = dispatch;
    fx->numParams = 1;
    fx->numInputs = 2;
    fx->numOutputs = 2;
    fx->flags = effFlagsCanReplacing;
    fx->processReplacing = copy;
    return fx;
}

#endif
