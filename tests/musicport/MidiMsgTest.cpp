#include "musicport/MidiMsg.h"

#include <gtest/gtest.h>

namespace musicport {
namespace {

TEST(MidiMsg, MakeFromCommandAndChannel) {
    struct Case {
        BYTE command, channel, data1, data2;
        DWORD expected;
    };
    for (const Case c : {Case{0x90, 0, 60, 127, 0x007F3C90}, Case{0xB0, 0, 123, 0, 0x00007BB0},
                         Case{0xC0, 0, 5, 0, 0x000005C0}, Case{0x80, 15, 127, 64, 0x00407F8F},
                         Case{0xE0, 9, 0xFF, 0xFF, 0x00FFFFE9}}) {
        EXPECT_EQ(MakeMidiMsg(c.command, c.channel, c.data1, c.data2), c.expected)
            << std::hex << int(c.command) << " " << int(c.channel);
    }
}

TEST(MidiMsg, MakeFromStatus) {
    EXPECT_EQ(MakeMidiMsg(BYTE{0x91}, 60, 127), 0x007F3C91u);
    EXPECT_EQ(MakeMidiMsg(BYTE{0xF8}, 0, 0), 0x000000F8u);
    EXPECT_EQ(MakeMidiMsg(BYTE{0xFF}, 0xFF, 0xFF), 0x00FFFFFFu);
}

TEST(MidiMsg, SplitIntoCommandAndChannel) {
    BYTE command = 0, channel = 0, data1 = 0, data2 = 0;
    SplitMidiMsg(0x007F3C91, &command, &channel, &data1, &data2);
    EXPECT_EQ(command, 0x90);
    EXPECT_EQ(channel, 1);
    EXPECT_EQ(data1, 60);
    EXPECT_EQ(data2, 127);

    // Bits 24-31 are not part of the message.
    SplitMidiMsg(0xAB00407Fu | 0x8Fu, &command, &channel, &data1, &data2);
    EXPECT_EQ(command, 0xF0);
    EXPECT_EQ(channel, 0x0F);
    EXPECT_EQ(data2, 0x00);
}

TEST(MidiMsg, SplitIntoStatusRoundTrips) {
    for (const DWORD msg : {0x007F3C90u, 0x00007BB0u, 0x000005C0u, 0x00FFFFFFu}) {
        BYTE status = 0, data1 = 0, data2 = 0;
        SplitMidiMsg(msg, &status, &data1, &data2);
        EXPECT_EQ(MakeMidiMsg(status, data1, data2), msg);
    }
    BYTE data2 = 0;
    SplitMidiMsg(0x00403C90, nullptr, nullptr, &data2);  // null outputs are skipped
    EXPECT_EQ(data2, 0x40);
}

}  // namespace
}  // namespace musicport
