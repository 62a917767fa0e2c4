// One instance's eight programs, for every format: names and values, filled
// from the factory programs, the program in force, and the switch that
// keeps the edits of the program it leaves (what VST 2.4 hosts expect, and
// what the other formats keep so that one saved instance means the same
// everywhere).
//
// [any thread but the audio thread] Every call takes the bank's own lock
// for a copy of a row at most; the engine calls made under it never wait,
// so a switch lands whole even when two threads switch at once.
#pragma once

#include "engine/Lock.h"
#include "engine/Parameters.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr size_t kProgramNameLength = 24;

struct ProgramRecord {
    char name[kProgramNameLength];  // zero-filled; 24 characters fill it without a terminator
    float values[kNumParams];
};
static_assert(sizeof(ProgramRecord) == 52);

// Row `row` (0..7) of the factory programs.
ProgramRecord factoryRecord(int32_t row) noexcept;

class TubeEngine;

class ProgramBank {
public:
    // The factory programs, program 0 in force. The engine is not touched:
    // it starts on program 0's values by itself.
    ProgramBank() noexcept;

    // Keeps the engine's values in the row in force, makes `program` the one
    // in force and hands its seven values to the engine as one write.
    // Nothing happens for an index out of range or the program in force;
    // answers whether it switched.
    bool select(int32_t program, TubeEngine& engine) noexcept;
    int32_t current() const noexcept;

    // Renames the program in force: at most 24 bytes of `name`, up to its
    // first zero byte, the rest of the row's name zero-filled.
    void rename(std::string_view name) noexcept;
    // A copy of row `row`, clamped to 0..7, or of the row in force.
    ProgramRecord row(int32_t row) const noexcept;
    ProgramRecord currentRow() const noexcept;

    // The whole bank, for saving an instance. The row in force is given as
    // stored, not with the engine's live values: those come in `values`,
    // read under the bank's lock, so that a switch on another thread cannot
    // fall between the two.
    struct Contents {
        int32_t current;
        ProgramRecord rows[kNumPrograms];
    };
    Contents capture(const TubeEngine& engine, float (&values)[kNumParams]) const noexcept;
    // Replaces the whole bank and hands `values` to the engine as one write.
    // `contents.current` must be 0..7 (the state reader checks it).
    void restore(const Contents& contents, const float (&values)[kNumParams], TubeEngine& engine) noexcept;

private:
    mutable Lock lock;
    int32_t inForce = 0;
    ProgramRecord rows[kNumPrograms];
};
