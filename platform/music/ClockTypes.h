#pragma once

// Master clocks: the clocks a music object offers as the time base of its ports.

#include <array>
#include <memory>

#include "platform/music/IReferenceClock.h"
#include "platform/music/Types.h"

namespace platform::music {

constexpr DWORD DMUS_CLOCK_SYSTEM = 0;  // a clock of the operating system
constexpr DWORD DMUS_CLOCK_WAVE = 1;    // a clock driven by an audio output
constexpr DWORD DMUS_CLOCKF_GLOBAL = 0x1;

struct DMUS_CLOCKINFO8 {
    DWORD dwSize = 0;
    DWORD ctType = 0;  // DMUS_CLOCK_SYSTEM or DMUS_CLOCK_WAVE
    GUID guidClock;
    std::array<char16_t, 128> wszDescription{};  // UTF-16, NUL-terminated
    DWORD dwFlags = 0;
};
static_assert(sizeof(DMUS_CLOCKINFO8) == 284);

// {0F3A8A71-6C2E-4B8B-9D7E-5A1C2E4B7F01}: the operating system's monotonic clock.
constexpr GUID GUID_MonotonicClock{
    0x0F3A8A71, 0x6C2E, 0x4B8B, {0x9D, 0x7E, 0x5A, 0x1C, 0x2E, 0x4B, 0x7F, 0x01}};

// One clock as a backend offers it.
struct ClockEntry {
    DMUS_CLOCKINFO8 info;
    std::shared_ptr<IReferenceClock> clock;
};

}  // namespace platform::music
