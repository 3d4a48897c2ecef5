#include "musicport/UnitConversions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace musicport {
namespace {

constexpr double kScale = 65536.0;

// Rounds to the nearest unit; NaN and values beyond the range saturate instead of being
// undefined casts.
std::int32_t Saturate(double value) {
    if (std::isnan(value))
        return kMinusInfinityUnits;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::round(value), lo, hi));
}

}  // namespace

std::int32_t TimeCents(double seconds) {
    if (!(seconds > 0.0))
        return kMinusInfinityUnits;
    return Saturate(1200.0 * std::log2(seconds) * kScale);
}

std::int32_t PitchCents(double hz) {
    if (!(hz > 0.0))
        return kMinusInfinityUnits;
    return Saturate((1200.0 * std::log2(hz / 440.0) + 6900.0) * kScale);
}

std::int32_t GainUnits(double value, double reference) {
    if (value == 0.0 || reference == 0.0 || !(value / reference > 0.0))
        return kMinusInfinityUnits;
    return Saturate(200.0 * std::log10(value / reference) * kScale);
}

std::int32_t PercentUnits(double percent) {
    return Saturate(percent * 10.0 * kScale);
}

}  // namespace musicport
