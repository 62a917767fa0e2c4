#include "engine/ProgramBank.h"

#include "engine/TubeEngine.h"

#include <algorithm>
#include <cstring>

ProgramRecord factoryRecord(int32_t row) noexcept
{
    ProgramRecord record{};
    const char* name = kFactoryPrograms[row].name;
    std::memcpy(record.name, name, std::min(std::strlen(name), kProgramNameLength));
    std::copy(kFactoryPrograms[row].values, kFactoryPrograms[row].values + kNumParams, record.values);
    return record;
}

ProgramBank::ProgramBank() noexcept
{
    for (int32_t row = 0; row < kNumPrograms; ++row) rows[row] = factoryRecord(row);
}

bool ProgramBank::select(int32_t program, TubeEngine& engine) noexcept
{
    if (static_cast<uint32_t>(program) >= static_cast<uint32_t>(kNumPrograms)) return false;
    LockGuard hold(lock);
    if (program == inForce) return false;
    for (int32_t i = 0; i < kNumParams; ++i) rows[inForce].values[i] = engine.getParameter(i);
    inForce = program;
    // Under the lock: a second switch cannot save this program's row before
    // the engine holds its values, nor hand the engine its own in between.
    engine.setParameters(rows[program].values);
    return true;
}

int32_t ProgramBank::current() const noexcept
{
    LockGuard hold(lock);
    return inForce;
}

void ProgramBank::rename(std::string_view name) noexcept
{
    LockGuard hold(lock);
    char* target = rows[inForce].name;
    const size_t length = std::min({name.size(), kProgramNameLength, static_cast<size_t>(std::find(name.begin(), name.end(), '\0') - name.begin())});
    std::memset(target, 0, kProgramNameLength);
    std::memcpy(target, name.data(), length);
}

ProgramRecord ProgramBank::row(int32_t row) const noexcept
{
    LockGuard hold(lock);
    return rows[std::clamp(row, 0, kNumPrograms - 1)];
}

ProgramRecord ProgramBank::currentRow() const noexcept
{
    LockGuard hold(lock);
    return rows[inForce];
}

ProgramBank::Contents ProgramBank::capture(const TubeEngine& engine, float (&values)[kNumParams]) const noexcept
{
    LockGuard hold(lock);
    for (int32_t i = 0; i < kNumParams; ++i) values[i] = engine.getParameter(i);
    Contents copy;
    copy.current = inForce;
    std::copy(std::begin(rows), std::end(rows), copy.rows);
    return copy;
}

void ProgramBank::restore(const Contents& contents, const float (&values)[kNumParams], TubeEngine& engine) noexcept
{
    LockGuard hold(lock);
    inForce = std::clamp(contents.current, 0, kNumPrograms - 1);
    std::copy(std::begin(contents.rows), std::end(contents.rows), rows);
    engine.setParameters(values);
}
