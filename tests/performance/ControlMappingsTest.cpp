// The numbers of the volume, pitch and note-range controls.

#include <gtest/gtest.h>

#include "performance/ControlMappings.h"

namespace {

using namespace performance;

TEST(ControlMappingsTest, VolumeReadPlacesTheSlider) {
    struct Case {
        std::uint32_t maximum, value;
        int position;
    };
    for (const Case& c : {Case{65535, 65535, 0}, Case{65535, 32768, 4}, Case{65535, 0, 10},
                          Case{65536, 65536, 0}, Case{65536, 6554, 8}, Case{100, 1, 9},
                          // A value above the maximum still puts the thumb at the top.
                          Case{100, 150, 0},
                          // A control without range reads as full volume, not as NaN.
                          Case{0, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.maximum << "/" << c.value);
        EXPECT_EQ(VolumeToSliderPosition(c.maximum, c.value), c.position);
    }
}

TEST(ControlMappingsTest, SliderPositionWritesTheVolume) {
    struct Case {
        std::uint32_t maximum;
        int position;
        std::uint32_t value;
    };
    for (const Case& c : {Case{65535, 0, 65535}, Case{65535, 3, 45874}, Case{65535, 5, 32767},
                          Case{65535, 10, 0}, Case{65536, 5, 32768},
                          // 32-bit arithmetic would wrap here.
                          Case{0xFFFFFFFFu, 1, 3865470565u}}) {
        SCOPED_TRACE(testing::Message() << c.maximum << " at " << c.position);
        EXPECT_EQ(SliderPositionToVolume(c.maximum, c.position), c.value);
    }
}

TEST(ControlMappingsTest, TransposeBaseMovesOneSemitoneWithinItsBounds) {
    struct Case {
        int base, position, next;
    };
    for (const Case& c : {Case{36, -1, 37}, Case{36, 1, 35}, Case{36, 0, 36}, Case{47, -1, 48},
                          Case{48, -1, 48}, Case{25, 1, 24}, Case{24, 1, 24}, Case{48, 1, 47}}) {
        SCOPED_TRACE(testing::Message() << c.base << " at " << c.position);
        EXPECT_EQ(NextTransposeBase(c.base, c.position), c.next);
    }
    EXPECT_EQ(KeyName(36), "C");
    EXPECT_EQ(KeyName(37), "C#");
    EXPECT_EQ(KeyName(46), "A#");
    EXPECT_EQ(KeyName(48), "C");
}

}  // namespace
