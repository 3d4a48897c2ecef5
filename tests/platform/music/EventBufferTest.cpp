#include "platform/music/EventBuffer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/music/ResultCodes.h"

namespace platform::music {
namespace {

struct Read {
    REFERENCE_TIME time;
    DWORD group;
    std::vector<BYTE> bytes;
    bool operator==(const Read&) const = default;
};

std::vector<Read> ReadAll(IMusicBuffer& buffer) {
    std::vector<Read> events;
    buffer.ResetReadPtr();
    REFERENCE_TIME time = 0;
    DWORD group = 0, length = 0;
    const BYTE* data = nullptr;
    while (buffer.GetNextEvent(&time, &group, &length, &data) == S_OK)
        events.push_back({time, group, std::vector<BYTE>(data, data + length)});
    return events;
}

TEST(EventBuffer, ShortMessagesKeepOnlyTheirOwnBytes) {
    EventBuffer buffer(256);
    ASSERT_EQ(buffer.PackStructured(10, 0, 0x007F3C90), S_OK);  // note-on: 3 bytes
    ASSERT_EQ(buffer.PackStructured(20, 1, 0xAB0007C5), S_OK);  // program change: 2 bytes
    ASSERT_EQ(buffer.PackStructured(30, 2, 0x000000F8), S_OK);  // clock: 1 byte
    EXPECT_EQ(
        ReadAll(buffer),
        (std::vector<Read>{{10, 0, {0x90, 0x3C, 0x7F}}, {20, 1, {0xC5, 0x07}}, {30, 2, {0xF8}}}));
    EXPECT_EQ(buffer.UsedBytes(), 3 * 24u);

    for (const DWORD invalid : {0x00003C10u, 0x000000F0u, 0x000000F7u})
        EXPECT_EQ(buffer.PackStructured(0, 0, invalid), DMUS_E_INVALID_EVENT) << invalid;
}

TEST(EventBuffer, CapacityCountsWholeEventsAndFlushEmpties) {
    EventBuffer buffer(56);  // what a port activated for 32 bytes of system exclusive gets
    EXPECT_EQ(buffer.PackStructured(0, 0, 0x007F3C90), S_OK);
    EXPECT_EQ(buffer.PackStructured(0, 0, 0x00003C80), S_OK);
    EXPECT_EQ(buffer.PackStructured(0, 0, 0x00003C80), DMUS_E_BUFFER_FULL);
    EXPECT_EQ(buffer.Flush(), S_OK);
    EXPECT_TRUE(ReadAll(buffer).empty());
    EXPECT_EQ(buffer.UsedBytes(), 0u);

    const std::vector<BYTE> sysex36(36, 0x11), sysex37(37, 0x11);
    EXPECT_EQ(buffer.PackUnstructured(5, 0, 37, sysex37.data()), DMUS_E_BUFFER_FULL);
    EXPECT_EQ(buffer.PackUnstructured(5, 0, 36, sysex36.data()), S_OK);
    EXPECT_EQ(ReadAll(buffer), (std::vector<Read>{{5, 0, sysex36}}));
    EXPECT_EQ(buffer.PackUnstructured(0, 0, 0xFFFFFFFF, sysex36.data()), DMUS_E_BUFFER_FULL);
    EXPECT_EQ(buffer.PackUnstructured(0, 0, 4, nullptr), E_POINTER);
}

TEST(EventBuffer, ReadPointerRestartsAndEndsWithSFalse) {
    EventBuffer buffer(128);
    buffer.PackStructured(1, 0, 0x007F3C90);
    REFERENCE_TIME time = 0;
    EXPECT_EQ(buffer.GetNextEvent(&time, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(buffer.GetNextEvent(&time, nullptr, nullptr, nullptr), S_FALSE);
    buffer.ResetReadPtr();
    EXPECT_EQ(buffer.GetNextEvent(&time, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(time, 1);
}

TEST(EventBuffer, ShortMessageLengthByStatus) {
    struct Case {
        BYTE status;
        DWORD length;
    };
    for (const Case c :
         {Case{0x00, 0}, Case{0x7F, 0}, Case{0x80, 3}, Case{0x9F, 3}, Case{0xA0, 3}, Case{0xB0, 3},
          Case{0xC0, 2}, Case{0xDF, 2}, Case{0xE0, 3}, Case{0xF0, 0}, Case{0xF1, 2}, Case{0xF2, 3},
          Case{0xF3, 2}, Case{0xF6, 1}, Case{0xF7, 0}, Case{0xF8, 1}, Case{0xFF, 1}})
        EXPECT_EQ(ShortMessageLength(c.status), c.length) << std::hex << int(c.status);
}

}  // namespace
}  // namespace platform::music
