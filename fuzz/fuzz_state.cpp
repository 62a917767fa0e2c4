// libFuzzer entry for the stored state a host hands back: a bank as a host
// keeps it for a plug-in without chunks -- each program's name as raw bytes
// (any length, terminated or not) and its seven values as raw float bits,
// then the current program and a few later automation values -- restored
// the way hosts restore it: select each program, rename it, set its values,
// select the current one. It traps when the instance breaks its promises:
// a name read back past 24 characters or unterminated, a value not kept as
// given, a display text past its limit, a latency other than 0 or 8, output
// not finite or unbounded, or a second instance given the same state
// sounding different.
#include "plugin/Parameters.h"
#include "plugin/TubeEffect.h"
#include "plugin/vst2abi.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kFrames = 256;
constexpr float kBound = 1000.0f;
constexpr size_t kNameRoom = 64;

void require(bool ok)
{
    if (!ok) __builtin_trap();
}

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t u8() { return at < size ? data[at++] : 0; }
    float f32()
    {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(u8()) << (8 * i);
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        return f;
    }
};

struct StoredProgram {
    char name[kNameRoom];  // as stored: up to 63 bytes, then whatever the reader gives
    float values[kNumParams];
};

struct StoredBank {
    StoredProgram programs[kNumPrograms];
    intptr_t current = 0;
    std::vector<std::pair<int32_t, float>> automation;
};

StoredBank readBank(Reader& r)
{
    StoredBank bank;
    for (StoredProgram& p : bank.programs) {
        const size_t length = r.u8() % kNameRoom;
        std::memset(p.name, 0, sizeof(p.name));
        for (size_t i = 0; i < length; ++i) p.name[i] = static_cast<char>(r.u8());
        // A name stored without its terminator fills the host's buffer to the end.
        if (length == kNameRoom - 1 && (r.u8() & 1)) p.name[kNameRoom - 1] = 'x';
        for (float& v : p.values) v = r.f32();
    }
    // Indices a damaged file may hold, in range or not.
    bank.current = static_cast<int8_t>(r.u8());
    const int32_t later = r.u8() % 8;
    for (int32_t i = 0; i < later; ++i) {
        const int32_t index = static_cast<int8_t>(r.u8()) % 10;
        bank.automation.push_back({index, r.f32()});
    }
    return bank;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

void restore(TubeEffect& effect, const StoredBank& bank)
{
    AEffect* fx = effect.getAeffect();
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        fx->dispatcher(fx, effSetProgram, 0, p, nullptr, 0.0f);
        char name[kNameRoom];
        std::memcpy(name, bank.programs[p].name, sizeof(name));
        fx->dispatcher(fx, effSetProgramName, 0, 0, name, 0.0f);
        for (int32_t i = 0; i < kNumParams; ++i) fx->setParameter(fx, i, bank.programs[p].values[i]);
    }
    fx->dispatcher(fx, effSetProgram, 0, bank.current, nullptr, 0.0f);
    for (const auto& [index, value] : bank.automation) fx->setParameter(fx, index, value);
}

void checkTexts(TubeEffect& effect, const StoredBank& bank)
{
    AEffect* fx = effect.getAeffect();
    const int32_t current = static_cast<int32_t>(fx->dispatcher(fx, effGetProgram, 0, 0, nullptr, 0.0f));
    // The stored current program, or the last one restored when the stored
    // index is out of range (and refused).
    const bool validIndex = bank.current >= 0 && bank.current < kNumPrograms;
    require(current == (validIndex ? bank.current : kNumPrograms - 1));
    // What each program must hold: as stored, the current one with the later
    // automation on top (saved into its row when another is selected).
    float expected[kNumPrograms][kNumParams];
    for (int32_t p = 0; p < kNumPrograms; ++p) std::memcpy(expected[p], bank.programs[p].values, sizeof(expected[p]));
    for (const auto& [index, value] : bank.automation)
        if (index >= 0 && index < kNumParams) expected[current][index] = value;
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        char name[kNameRoom + 8];
        std::memset(name, 0x5A, sizeof(name));
        fx->dispatcher(fx, effSetProgram, 0, p, nullptr, 0.0f);
        fx->dispatcher(fx, effGetProgramName, 0, 0, name, 0.0f);
        require(std::memchr(name, 0, kProgramNameLength + 1) != nullptr);
        require(static_cast<unsigned char>(name[kProgramNameLength + 1]) == 0x5A);
        // The name kept is the stored one, cut at 24 characters.
        require(std::strncmp(name, bank.programs[p].name, kProgramNameLength) == 0);
        // Values are kept as given, whatever they are.
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float stored = expected[p][i];
            const float kept = fx->getParameter(fx, i);
            require(sameBits(kept, stored) || (std::isnan(kept) && std::isnan(stored)));
        }
    }
    fx->dispatcher(fx, effSetProgram, 0, current, nullptr, 0.0f);
    for (int32_t i = 0; i < kNumParams; ++i) {
        char text[32];
        std::memset(text, 0x5A, sizeof(text));
        fx->dispatcher(fx, effGetParamDisplay, i, 0, text, 0.0f);
        require(std::memchr(text, 0, kDisplayBufferSize) != nullptr);
        require(static_cast<unsigned char>(text[kDisplayBufferSize]) == 0x5A);
    }
}

std::vector<float> run(TubeEffect& effect)
{
    AEffect* fx = effect.getAeffect();
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
    std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames);
    for (int32_t k = 0; k < kFrames; ++k) {
        inL[k] = 0.5f * std::sin(0.05f * static_cast<float>(k));
        inR[k] = 0.5f * std::sin(0.031f * static_cast<float>(k) + 1.0f);
    }
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    fx->processReplacing(fx, in, out, kFrames);
    require(fx->initialDelay == 0 || fx->initialDelay == 8);
    std::vector<float> all(outL);
    all.insert(all.end(), outR.begin(), outR.end());
    for (float v : all) require(std::isfinite(v) && std::fabs(v) <= kBound);
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader r{data, size};
    const StoredBank bank = readBank(r);
    TubeEffect first(host);
    restore(first, bank);
    const std::vector<float> a = run(first);
    checkTexts(first, bank);
    // The same state into a fresh instance sounds the same, bit for bit.
    TubeEffect second(host);
    restore(second, bank);
    const std::vector<float> b = run(second);
    require(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
    return 0;
}
