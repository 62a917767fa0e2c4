// An instance's whole state as one versioned blob of bytes, for the formats
// whose hosts save a plug-in as data (VST3, CLAP) and for the standalone
// application's file: the seven parameter values, the program in force and
// the eight programs' names and values. Little-endian on every platform, so
// a project moves between machines.
//
// Layout, version 1 (456 bytes):
//   "Z5RS", a u32 version, 7 f32 values, an i32 program (0..7), and per
//   program 24 name bytes and 7 f32 values.
//
// A blob is taken whole or not at all: a wrong size, magic or version, a
// program out of range or a value that is not finite is refused, and the
// reader's output is untouched.
//
// [any thread; never allocates]
#pragma once

#include "engine/ProgramBank.h"

#include <cstddef>
#include <cstdint>

struct InstanceState {
    float values[kNumParams];
    ProgramBank::Contents bank;
};

constexpr uint32_t kInstanceStateVersion = 1;
constexpr size_t kInstanceStateSize = 4 + 4 + 4 * kNumParams + 4 + kNumPrograms * (kProgramNameLength + 4 * kNumParams);

// Writes the blob into `out`, which holds kInstanceStateSize bytes.
void writeInstanceState(const InstanceState& state, uint8_t* out) noexcept;

// Reads a blob of `size` bytes; false, with `state` untouched, for anything
// but a whole and sound one.
bool readInstanceState(const uint8_t* data, size_t size, InstanceState& state) noexcept;

// The state of a running instance, and restoring one.
InstanceState captureInstanceState(const ProgramBank& bank, const TubeEngine& engine) noexcept;
void restoreInstanceState(const InstanceState& state, ProgramBank& bank, TubeEngine& engine) noexcept;
