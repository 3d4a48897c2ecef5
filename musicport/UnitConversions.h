#pragma once

// Conversions into the DLS articulation units, each a 32-bit value scaled by 65536. Results
// beyond the 32-bit range saturate; 0x80000000 stands for "minus infinity" (no time, no
// gain), which is also what arguments without a logarithm (zero or negative) give.

#include <cstdint>

namespace musicport {

constexpr std::int32_t kMinusInfinityUnits = INT32_MIN;  // 0x80000000

// 1200 * log2(seconds) * 65536; 0 seconds gives 0x80000000.
std::int32_t TimeCents(double seconds);
// (1200 * log2(hz / 440) + 6900) * 65536: MIDI note 69 is 6900 cents.
std::int32_t PitchCents(double hz);
// 200 * log10(value / reference) * 65536; a zero value or reference gives 0x80000000.
std::int32_t GainUnits(double value, double reference);
// percent * 10 * 65536.
std::int32_t PercentUnits(double percent);

}  // namespace musicport
