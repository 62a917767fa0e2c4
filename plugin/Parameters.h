// The seven parameters as a VST 2.4 host shows them -- names, labels and
// display texts within the interface's text limits -- and the record of one
// program.
#pragma once

#include "engine/ParameterInfo.h"
#include "engine/ProgramBank.h"

#include <cstddef>
#include <cstdint>

// Text limits of the host interface, in characters; a terminator follows.
constexpr size_t kParamTextLength = 8;    // names and labels
constexpr size_t kDisplayBufferSize = 8;  // display texts: 7 characters and the terminator
constexpr size_t kEffectNameLength = 32;
constexpr size_t kVendorTextLength = 64;

const char* parameterName(int32_t index) noexcept;   // "Unknown" when out of range
const char* parameterLabel(int32_t index) noexcept;  // nullptr when out of range

// Formats the host's display text of parameter `index` (0..6) into an
// 8-byte buffer. `oversampling` is the factor in force, shown for index 0.
void formatParameterDisplay(int32_t index, float value, int32_t oversampling, char* text) noexcept;

// Copies at most `limit` characters of `source`, zero-fills the rest of the
// `limit` bytes and writes a terminator at text[limit].
void copyText(char* text, const char* source, size_t limit) noexcept;
