// The back-off between attempts to reach a lost audio server: it grows, and however long the
// outage lasts it never waits longer than its cap, so a server that returns is reached soon.

#include "platform/fluidsynth/RetryDelay.h"

#include <gtest/gtest.h>

#include <vector>

namespace tests::fluidsynth {
namespace {

using platform::fluidsynth::RetryDelay;
using ms = std::chrono::milliseconds;

struct Case {
    const char* name;
    ms first;
    ms cap;
    std::vector<ms> expected;  // the first waits, in order
};

class RetryDelayTest : public ::testing::TestWithParam<Case> {};

TEST_P(RetryDelayTest, DoublesUpToTheCapAndStaysThere) {
    const Case& c = GetParam();
    RetryDelay delay(c.first, c.cap);
    for (std::size_t i = 0; i < c.expected.size(); ++i)
        EXPECT_EQ(delay.Next(), c.expected[i]) << "attempt " << i;
    // A day of failed attempts: never beyond the cap, never shrinking, never overflowing.
    ms last = c.expected.back();
    for (int i = 0; i < 100'000; ++i) {
        const ms next = delay.Next();
        ASSERT_LE(next, delay.Cap());
        ASSERT_GE(next, last);
        last = next;
    }
    EXPECT_EQ(last, delay.Cap());
    delay.Reset();
    EXPECT_EQ(delay.Next(), c.first) << "a new outage starts from the first wait";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetryDelayTest,
    ::testing::Values(
        Case{"Outputs",
             platform::fluidsynth::kServerRetryFirst,
             platform::fluidsynth::kServerRetryCap,
             {ms(100), ms(200), ms(400), ms(800), ms(1600), ms(2000), ms(2000)}},
        // A cap that is not a doubling of the first wait is still reached exactly.
        Case{"CapBetweenDoublings", ms(100), ms(300), {ms(100), ms(200), ms(300), ms(300)}},
        Case{"CapBelowFirst", ms(500), ms(100), {ms(500), ms(500)}},
        Case{"NearTheLargestDuration", ms(1), ms::max(), {ms(1), ms(2), ms(4)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tests::fluidsynth
