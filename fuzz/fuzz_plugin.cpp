// libFuzzer entry: each input is a script of host actions on one fresh
// effect instance -- dispatcher calls with arbitrary index, value, opt and
// buffers, setParameter with arbitrary floats, speaker arrangements, sample
// rates, and processReplacing with arbitrary sample bits, in and out of
// place. Besides what the sanitizers catch, it traps when the instance
// breaks its own promises: output not finite, subnormal or unbounded,
// frames left unwritten, a mono right output unlike the left, a text past
// its limit, or a latency other than 0 or 8.
#include "plugin/Parameters.h"
#include "plugin/TubeEffect.h"
#include "plugin/vst2abi.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__clang__)
#define Z5R_NO_COVERAGE __attribute__((no_sanitize("coverage"), noinline))
#else
#define Z5R_NO_COVERAGE
#endif

namespace {

// Blocks up to 512 frames: long enough for every path of the block driver,
// short enough that an input costs well under a millisecond at 16x.
constexpr int32_t kMaxFrames = 512;
constexpr int32_t kMaxSteps = 64;
constexpr size_t kBufferSize = 4096;
constexpr size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;
constexpr float kBound = 1000.0f;

void require(bool ok)
{
    if (!ok) __builtin_trap();
}

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool empty() const { return at >= size; }
    uint8_t u8() { return at < size ? data[at++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    uint64_t u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }
    float f32()
    {
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        return f;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

// A zeroed (or text-filled) buffer with guard bytes on both sides.
struct Guarded {
    unsigned char bytes[kBufferSize + 2 * kGuard];
    char* data() { return reinterpret_cast<char*>(bytes + kGuard); }
    void reset()
    {
        std::memset(bytes, kGuardByte, kGuard);
        std::memset(bytes + kGuard, 0, kBufferSize);
        std::memset(bytes + kGuard + kBufferSize, kGuardByte, kGuard);
    }
    Z5R_NO_COVERAGE void requireGuards() const
    {
        for (size_t i = 0; i < kGuard; ++i) require(bytes[i] == kGuardByte && bytes[kGuard + kBufferSize + i] == kGuardByte);
    }
    // Nothing written from `limit` on: the bytes still hold `fill`.
    Z5R_NO_COVERAGE void requireWithin(size_t limit, unsigned char fill = 0) const
    {
        static unsigned char zeros[kBufferSize], hashes[kBufferSize];
        if (hashes[0] != '#') std::memset(hashes, '#', kBufferSize);
        const unsigned char* expected = fill == 0 ? zeros : hashes;
        require(fill == 0 || fill == '#');
        require(std::memcmp(bytes + kGuard + limit, expected, kBufferSize - limit) == 0);
    }
};

// What each text opcode may write, terminator included: the instance's limits.
size_t textLimit(int32_t opcode)
{
    switch (opcode) {
    case effGetProgramName:
    case effGetProgramNameIndexed:
        return kProgramNameLength + 1;
    case effGetParamLabel:
    case effGetParamName:
        return kParamTextLength + 1;
    case effGetParamDisplay:
        return kDisplayBufferSize;
    case effGetEffectName:
        return kEffectNameLength + 1;
    case effGetVendorString:
    case effGetProductString:
        return kVendorTextLength + 1;
    case effEditGetRect:
    case effGetChunk:
    case effGetSpeakerArrangement:
        return sizeof(void*);
    default:
        return 0;  // writes nothing through ptr
    }
}

float unwritten()
{
    const uint32_t bits = 0x7FC0BEEFu;
    float f;
    std::memcpy(&f, &bits, sizeof(f));
    return f;
}

bool isUnwritten(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof(bits));
    return bits == 0x7FC0BEEFu;
}

struct Session {
    AEffect* effect;
    Guarded buffer;
    std::vector<float> in[2], out[2];
    VstSpeakerArrangement arrangement{};

    intptr_t call(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
    {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    void dispatch(Reader& r)
    {
        int32_t opcode = static_cast<int32_t>(r.u8() % 111) - 10;
        // Closing and opening an editor are not for a script (effClose ends it).
        if (opcode == effClose || opcode == effEditOpen || opcode == effOpen) opcode = effGetProgram;
        const int32_t index = static_cast<int32_t>(r.u32());
        intptr_t value = static_cast<intptr_t>(r.u64());
        const float opt = r.f32();
        const uint8_t kind = r.u8() % 3;
        buffer.reset();
        void* ptr = kind == 0 ? nullptr : buffer.data();
        if (kind == 2) {
            // A text from the input, terminated.
            const size_t length = r.u8() % 40;
            for (size_t i = 0; i < length; ++i) buffer.data()[i] = static_cast<char>(r.u8());
        }
        VstSpeakerArrangement* location = &arrangement;
        if (opcode == effSetSpeakerArrangement) {
            arrangement.numChannels = static_cast<int32_t>(r.u32());
            value = (r.u8() & 1) ? reinterpret_cast<intptr_t>(&arrangement) : 0;
        } else if (opcode == effGetSpeakerArrangement) {
            value = (r.u8() & 1) ? reinterpret_cast<intptr_t>(&location) : 0;
        }
        const intptr_t answer = call(opcode, index, value, ptr, opt);
        buffer.requireGuards();
        if (kind == 1) buffer.requireWithin(textLimit(opcode));
        if (kind == 1 && textLimit(opcode) > sizeof(void*)) {
            bool terminated = false;
            for (size_t i = 0; i < textLimit(opcode); ++i) terminated = terminated || buffer.data()[i] == '\0';
            require(terminated);
        }
        if (opcode == effGetProgram) require(answer >= 0 && answer < kNumPrograms);
        if (opcode == effGetSpeakerArrangement) require(location == nullptr || value == 0);
        if (opcode < 0 || opcode > effGetNumMidiOutputChannels) require(answer == 0);
    }

    void process(Reader& r, bool inPlace)
    {
        const int32_t frames = r.u16() % (kMaxFrames + 1);
        const uint8_t source = r.u8() % 3;
        for (int c = 0; c < 2; ++c) fillInput(r, source, c, frames);
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        float** target = inPlace ? inputs : outputs;
        effect->processReplacing(effect, inputs, target, frames);

        const bool stereo = static_cast<TubeEffect*>(effect->object)->getChannelCount() == 2;
        checkOutput(target, frames, stereo);
        const int32_t latency = effect->initialDelay;
        require(latency == 0 || latency == kOversampling / 2);
    }

    // The per-sample loops carry no branch worth the fuzzer's tracing.
    Z5R_NO_COVERAGE void fillInput(Reader& r, uint8_t source, int c, int32_t frames)
    {
        for (int32_t k = 0; k < frames; ++k) {
            float v;
            if (source == 0)
                v = r.f32();  // any bits: NaN, infinities, subnormals, huge
            else if (source == 1)
                v = 0.5f * std::sin(0.05f * static_cast<float>(k + 7 * c));
            else
                v = static_cast<float>(static_cast<int8_t>(r.u8())) / 128.0f;
            in[c][static_cast<size_t>(k)] = v;
        }
        std::fill(out[c].begin(), out[c].begin() + frames, unwritten());
    }

    Z5R_NO_COVERAGE static void checkOutput(float* const* target, int32_t frames, bool stereo)
    {
        for (int c = 0; c < 2; ++c) {
            const float* y = target[c];
            for (int32_t k = 0; k < frames; ++k) {
                const float v = y[k];
                // Mono: the right output carries the left result.
                if (c == 1 && !stereo) require(std::memcmp(&v, &target[0][k], sizeof(v)) == 0);
                require(!isUnwritten(v));
                require(std::isfinite(v));
                require(std::fpclassify(v) != FP_SUBNORMAL);
                require(std::fabs(v) <= kBound);
            }
        }
    }

    void texts(Reader& r)
    {
        const int32_t index = static_cast<int32_t>(r.u8() % 12) - 2;
        for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName,
                               effGetProgramNameIndexed, effGetEffectName, effGetVendorString, effGetProductString}) {
            buffer.reset();
            std::memset(buffer.data(), '#', kBufferSize);
            call(opcode, index, 0, buffer.data(), 0.0f);
            buffer.requireGuards();
            bool terminated = false;
            for (size_t i = 0; i < textLimit(opcode); ++i) terminated = terminated || buffer.data()[i] == '\0';
            buffer.requireWithin(textLimit(opcode), '#');
            // Untouched buffers (an index out of range) stay all '#'.
            require(terminated || buffer.data()[0] == '#');
        }
    }
};

}  // namespace

// The rates the inputs pick from have their tables made before the first
// input (the cache keeps the last few of them); a rate an input makes up,
// or one evicted since, gets its sets from the background builder while the
// instance passes its input through or stays on the set in force, as for a
// host that never resumes.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (double rate : {48000.0, 8000.0, 44100.0, 44100.5, 1000000.0}) tableCache::fill(rate);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader r(data, size);
    static Session session{};
    Session& s = session;
    for (int c = 0; c < 2; ++c) {
        s.in[c].assign(kMaxFrames, 0.0f);
        s.out[c].assign(kMaxFrames, 0.0f);
    }
    s.effect = (new TubeEffect(host))->getAeffect();
    s.call(effOpen, 0, 0, nullptr, 0.0f);
    s.call(effMainsChanged, 0, 1, nullptr, 0.0f);

    for (int32_t step = 0; step < kMaxSteps && !r.empty(); ++step) {
        switch (r.u8() % 10) {
        case 0:
        case 1:
            s.dispatch(r);
            break;
        case 2:
        case 3: {
            const int32_t index = static_cast<int32_t>(r.u8() % 10) - 1;
            const float value = r.f32();
            s.effect->setParameter(s.effect, index, value);
            if (index >= 0 && index < kNumParams) {
                const float back = s.effect->getParameter(s.effect, index);
                require(std::memcmp(&back, &value, sizeof(float)) == 0);  // stored exactly as set
            }
            break;
        }
        case 4:
        case 5:
            s.process(r, false);
            break;
        case 6:
            s.process(r, true);
            break;
        case 7: {
            s.arrangement.numChannels = (r.u8() & 1) ? 2 : 1;
            s.call(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&s.arrangement), &s.arrangement, 0.0f);
            break;
        }
        case 8: {
            static const float rates[] = {8000.0f, 7999.0f, 44100.0f, 44100.5f, 1000000.0f, 1000001.0f, 0.0f, -48000.0f};
            const uint8_t pick = r.u8();
            const float rate = pick < 200 ? rates[pick % 8] : r.f32();
            s.call(effMainsChanged, 0, 0, nullptr, 0.0f);
            s.call(effSetSampleRate, 0, 0, nullptr, rate);
            s.call(effMainsChanged, 0, 1, nullptr, 0.0f);
            break;
        }
        default:
            s.texts(r);
            break;
        }
    }
    require(s.call(effClose, 0, 0, nullptr, 0.0f) == 1);
    return 0;
}
