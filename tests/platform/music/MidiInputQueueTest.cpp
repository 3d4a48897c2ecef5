#include "platform/music/MidiInputQueue.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"

namespace platform::music {
namespace {

// The first data byte of every event a read handed out.
std::vector<BYTE> Notes(IMusicBuffer& buffer) {
    std::vector<BYTE> notes;
    buffer.ResetReadPtr();
    REFERENCE_TIME time = 0;
    DWORD group = 0, length = 0;
    const BYTE* data = nullptr;
    while (buffer.GetNextEvent(&time, &group, &length, &data) == S_OK)
        notes.push_back(length > 1 ? data[1] : 0);
    return notes;
}

// A message that can never fit the reader's buffer is dropped and counted wherever it comes,
// and what follows it is still read, in order.
TEST(MidiInputQueue, AMessageLargerThanTheReadBufferIsDroppedAndTheRestRead) {
    const std::vector<BYTE> huge(200, 0x01);
    const auto sysex = [&] {
        std::vector<BYTE> m = huge;
        m.front() = 0xF0;
        m.back() = 0xF7;
        return m;
    }();
    const std::vector<BYTE> note60{0x90, 60, 100}, note61{0x90, 61, 100}, note62{0x90, 62, 100};
    MidiInputQueue queue;
    queue.Push(1, note60.data(), 3);
    queue.Push(2, sysex.data(), DWORD(sysex.size()));
    queue.Push(3, note61.data(), 3);
    queue.Push(4, sysex.data(), DWORD(sysex.size()));
    queue.Push(5, note62.data(), 3);

    EventBuffer buffer(64);  // two short events a read
    std::vector<BYTE> read;
    HRESULT hr = S_OK;
    for (int reads = 0; reads < 10 && (hr = queue.Read(buffer)) == S_OK; ++reads)
        for (const BYTE note : Notes(buffer))
            read.push_back(note);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(read, (std::vector<BYTE>{60, 61, 62}));
    EXPECT_EQ(queue.Dropped(), 2u);
    EXPECT_EQ(queue.Waiting(), 0u);
}

}  // namespace
}  // namespace platform::music
