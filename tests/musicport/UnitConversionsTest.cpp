#include "musicport/UnitConversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace musicport {
namespace {

constexpr std::int32_t kMinusInfinity = INT32_MIN;

TEST(UnitConversions, ExamplesAndZeroCases) {
    EXPECT_EQ(TimeCents(1.0), 0);
    EXPECT_EQ(TimeCents(2.0), 1200 * 65536);
    EXPECT_EQ(TimeCents(0.5), -1200 * 65536);
    EXPECT_EQ(TimeCents(0.0), kMinusInfinity);

    EXPECT_EQ(PitchCents(440.0), 6900 * 65536);
    EXPECT_EQ(PitchCents(880.0), 8100 * 65536);
    EXPECT_EQ(PitchCents(220.0), 5700 * 65536);

    EXPECT_EQ(GainUnits(1.0, 1.0), 0);
    EXPECT_EQ(GainUnits(0.1, 1.0), -200 * 65536);  // -20 dB
    EXPECT_EQ(GainUnits(10.0, 1.0), 200 * 65536);
    EXPECT_EQ(GainUnits(0.0, 1.0), kMinusInfinity);
    EXPECT_EQ(GainUnits(1.0, 0.0), kMinusInfinity);

    EXPECT_EQ(PercentUnits(100.0), 1000 * 65536);
    EXPECT_EQ(PercentUnits(0.0), 0);
    EXPECT_EQ(PercentUnits(-50.0), -500 * 65536);
}

// Arguments without a logarithm and results beyond 32 bits give defined values, not
// undefined casts.
TEST(UnitConversions, OutOfRangeArgumentsSaturate) {
    EXPECT_EQ(TimeCents(-1.0), kMinusInfinity);
    EXPECT_EQ(TimeCents(std::nan("")), kMinusInfinity);
    EXPECT_EQ(PitchCents(0.0), kMinusInfinity);
    EXPECT_EQ(PitchCents(-440.0), kMinusInfinity);
    EXPECT_EQ(GainUnits(-1.0, 1.0), kMinusInfinity);
    EXPECT_EQ(TimeCents(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(PercentUnits(1e9), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(PercentUnits(-1e9), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace musicport
