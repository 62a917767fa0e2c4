// libFuzzer entry for the instance blob as the VST3 and CLAP faces read it
// back from a host's stream: the first byte picks the face and how the
// stream hands the bytes over (whole, in pieces of any size, or failing
// part way), the rest is the blob. It traps when a face breaks its
// promises: a refused blob that changed the instance, an accepted one
// whose values reach the host outside their ranges, or a stored blob that does not come back
// byte for byte through a second instance.
#include "clap/ClapEffect.h"
#include "engine/InstanceState.h"
#include "vst3/Vst3Effect.h"
#include "vst3/Vst3View.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// No editor here.
vst3::IPlugView* vst3::createEditorView(Vst3Effect&) { return nullptr; }

namespace {

void require(bool ok)
{
    if (!ok) __builtin_trap();
}

// The bytes a stream hands over: all at once, in pieces whose sizes follow
// from `seed`, or with a failure after `failAt` bytes.
struct Source {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t seed;
    bool pieces;
    size_t failAt;

    int64_t read(void* buffer, uint64_t want)
    {
        if (at >= failAt) return -1;
        size_t n = std::min<size_t>(static_cast<size_t>(want), size - at);
        if (pieces && n > 1) {
            seed = seed * 1664525u + 1013904223u;
            n = 1 + (seed >> 8) % n;
        }
        std::memcpy(buffer, data + at, n);
        at += n;
        return static_cast<int64_t>(n);
    }
};

// --- VST3: an IBStream over the source, and one that keeps what is written ---
class InStream final : public vst3::IBStream {
public:
    explicit InStream(Source& source) : source(source) {}
    vst3::tresult VST3_CALL queryInterface(const uint8_t*, void** obj) override
    {
        if (obj) *obj = nullptr;
        return vst3::kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    vst3::tresult VST3_CALL read(void* buffer, int32_t numBytes, int32_t* numBytesRead) override
    {
        if (numBytesRead) *numBytesRead = 0;
        if (numBytes < 0) return vst3::kInvalidArgument;
        const int64_t n = source.read(buffer, static_cast<uint64_t>(numBytes));
        if (n < 0) return vst3::kResultFalse;
        if (numBytesRead) *numBytesRead = static_cast<int32_t>(n);
        return vst3::kResultOk;
    }
    vst3::tresult VST3_CALL write(void*, int32_t, int32_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_CALL seek(int64_t, int32_t, int64_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_CALL tell(int64_t* pos) override
    {
        if (pos) *pos = static_cast<int64_t>(source.at);
        return vst3::kResultOk;
    }

private:
    Source& source;
};

class OutStream final : public vst3::IBStream {
public:
    std::vector<uint8_t> bytes;
    vst3::tresult VST3_CALL queryInterface(const uint8_t*, void** obj) override
    {
        if (obj) *obj = nullptr;
        return vst3::kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }
    vst3::tresult VST3_CALL read(void*, int32_t, int32_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_CALL write(void* buffer, int32_t numBytes, int32_t* numBytesWritten) override
    {
        if (numBytes < 0) return vst3::kInvalidArgument;
        const auto* p = static_cast<const uint8_t*>(buffer);
        bytes.insert(bytes.end(), p, p + numBytes);
        if (numBytesWritten) *numBytesWritten = numBytes;
        return vst3::kResultOk;
    }
    vst3::tresult VST3_CALL seek(int64_t, int32_t, int64_t*) override { return vst3::kResultFalse; }
    vst3::tresult VST3_CALL tell(int64_t* pos) override
    {
        if (pos) *pos = static_cast<int64_t>(bytes.size());
        return vst3::kResultOk;
    }
};

std::vector<uint8_t> stored(vst3::Vst3Effect& effect)
{
    OutStream out;
    require(effect.getState(&out) == vst3::kResultOk && out.bytes.size() == kInstanceStateSize);
    return out.bytes;
}

void valuesInRange(vst3::Vst3Effect& effect)
{
    for (vst3::ParamID id = 0; id < static_cast<vst3::ParamID>(vst3::kParameterCount); ++id) {
        const double v = effect.getParamNormalized(id);
        require(v >= 0.0 && v <= 1.0);
    }
}

void fuzzVst3(Source& source, bool component)
{
    auto* effect = new vst3::Vst3Effect();
    effect->initialize(nullptr);
    const std::vector<uint8_t> before = stored(*effect);
    InStream in(source);
    const bool took = (component ? effect->setComponentState(&in) : effect->setState(&in)) == vst3::kResultOk;
    const std::vector<uint8_t> after = stored(*effect);
    if (!took) {
        require(after == before);
    } else {
        valuesInRange(*effect);
        // What it stores now comes back whole through a second instance.
        auto* second = new vst3::Vst3Effect();
        second->initialize(nullptr);
        Source again{after.data(), after.size(), 0, 0, false, SIZE_MAX};
        InStream in2(again);
        require(second->setState(&in2) == vst3::kResultOk);
        require(stored(*second) == after);
        second->terminate();
        second->release();
    }
    effect->terminate();
    effect->release();
}

// --- CLAP: the plug-in's own state extension over the source ---
const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr, "fuzz", "", "", "1", [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                           [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};

std::vector<uint8_t> stored(ClapEffect& effect)
{
    std::vector<uint8_t> bytes;
    clap_ostream_t out{&bytes, [](const clap_ostream_t* s, const void* buffer, uint64_t size) -> int64_t {
                           auto* v = static_cast<std::vector<uint8_t>*>(s->ctx);
                           const auto* p = static_cast<const uint8_t*>(buffer);
                           v->insert(v->end(), p, p + size);
                           return static_cast<int64_t>(size);
                       }};
    require(effect.save(&out) && bytes.size() == kInstanceStateSize);
    return bytes;
}

bool load(ClapEffect& effect, Source& source)
{
    clap_istream_t in{&source, [](const clap_istream_t* s, void* buffer, uint64_t size) -> int64_t {
                          return static_cast<Source*>(s->ctx)->read(buffer, size);
                      }};
    return effect.load(&in);
}

void fuzzClap(Source& source)
{
    ClapEffect effect(&kHost);
    require(effect.init());
    const std::vector<uint8_t> before = stored(effect);
    const bool took = load(effect, source);
    const std::vector<uint8_t> after = stored(effect);
    if (!took) {
        require(after == before);
        return;
    }
    // What the host reads back lies within each parameter's range.
    for (int32_t i = 0; i < kNumParams; ++i) {
        const double v = clapValueFromNormalized(i, effect.getEngine().getParameter(i));
        require(v >= clapValueFromNormalized(i, 0.0f) && v <= clapValueFromNormalized(i, 1.0f));
    }
    ClapEffect second(&kHost);
    require(second.init());
    Source again{after.data(), after.size(), 0, 0, false, SIZE_MAX};
    require(load(second, again));
    require(stored(second) == after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const uint8_t how = data[0];
    Source source{data + 1, size - 1, 0, 0x9E3779B9u ^ how, (how & 4) != 0,
                  (how & 8) != 0 ? static_cast<size_t>(how >> 4) * 31 : SIZE_MAX};
    switch (how & 3) {
    case 0: fuzzVst3(source, false); break;
    case 1: fuzzVst3(source, true); break;
    default: fuzzClap(source); break;
    }
    return 0;
}
