// The LED button's states and transitions, independent of any window
// system. Bit 1 of the state is the value (on or off), bit 0 the held look
// while the mouse button is down; the state is also the frame shown.
#pragma once

#include <cstdint>

namespace button {

constexpr int32_t kOff = 0;
constexpr int32_t kOffHeld = 1;
constexpr int32_t kOn = 2;
constexpr int32_t kOnHeld = 3;
constexpr int32_t kFrames = 4;

// The state a left press leads to, by current state: the value flips at the press.
constexpr int32_t kDownNext[kFrames] = {kOnHeld, kOffHeld, kOffHeld, kOnHeld};
// The state a left release leads to: the held look ends, the value stays.
constexpr int32_t kUpNext[kFrames] = {kOff, kOff, kOn, kOn};

// The state after a left release, or after a press that ended without one.
constexpr int32_t released(int32_t state) noexcept { return kUpNext[state & 3]; }

// Sets the value bit and keeps the held look.
constexpr int32_t withValue(int32_t state, int32_t value) noexcept { return (state & 1) | ((value & 1) << 1); }

constexpr bool valueOf(int32_t state) noexcept { return (state & 2) != 0; }

// On and not held: how the editor reads a switch.
constexpr bool isOn(int32_t state) noexcept { return state == kOn; }

// Window message an LED button sends its parent when a press changed its
// state: wParam = control id, lParam = the new state.
constexpr uint32_t kMessage = 0x0400 + 1;  // WM_USER + 1

}  // namespace button
