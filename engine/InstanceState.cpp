#include "engine/InstanceState.h"

#include "engine/TubeEngine.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t kMagic[4] = {'Z', '5', 'R', 'S'};

void putU32(uint8_t*& out, uint32_t value) noexcept
{
    for (int32_t i = 0; i < 4; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
}

void putF32(uint8_t*& out, float value) noexcept
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putU32(out, bits);
}

uint32_t getU32(const uint8_t*& in) noexcept
{
    uint32_t value = 0;
    for (int32_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(*in++) << (8 * i);
    return value;
}

bool getFiniteF32(const uint8_t*& in, float& value) noexcept
{
    const uint32_t bits = getU32(in);
    std::memcpy(&value, &bits, 4);
    return std::isfinite(value);
}

}  // namespace

void writeInstanceState(const InstanceState& state, uint8_t* out) noexcept
{
    std::memcpy(out, kMagic, 4);
    out += 4;
    putU32(out, kInstanceStateVersion);
    for (float value : state.values) putF32(out, value);
    putU32(out, static_cast<uint32_t>(state.bank.current));
    for (const ProgramRecord& row : state.bank.rows) {
        std::memcpy(out, row.name, kProgramNameLength);
        out += kProgramNameLength;
        for (float value : row.values) putF32(out, value);
    }
}

bool readInstanceState(const uint8_t* data, size_t size, InstanceState& state) noexcept
{
    if (!data || size != kInstanceStateSize || std::memcmp(data, kMagic, 4) != 0) return false;
    const uint8_t* in = data + 4;
    if (getU32(in) != kInstanceStateVersion) return false;
    InstanceState read{};
    for (float& value : read.values)
        if (!getFiniteF32(in, value)) return false;
    const uint32_t program = getU32(in);
    if (program >= static_cast<uint32_t>(kNumPrograms)) return false;
    read.bank.current = static_cast<int32_t>(program);
    for (ProgramRecord& row : read.bank.rows) {
        std::memcpy(row.name, in, kProgramNameLength);
        in += kProgramNameLength;
        for (float& value : row.values)
            if (!getFiniteF32(in, value)) return false;
    }
    state = read;
    return true;
}

InstanceState captureInstanceState(const ProgramBank& bank, const TubeEngine& engine) noexcept
{
    InstanceState state;
    state.bank = bank.capture(engine, state.values);
    return state;
}

void restoreInstanceState(const InstanceState& state, ProgramBank& bank, TubeEngine& engine) noexcept
{
    bank.restore(state.bank, state.values, engine);
}
