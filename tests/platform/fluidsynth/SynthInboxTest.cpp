// The hand-off of channel messages from sending threads to the rendering thread: nothing
// plays before the renderer drains, order survives messages that cannot be queued, and
// concurrent senders lose nothing.

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "platform/fluidsynth/SynthCore.h"
#include "platform/fluidsynth/SynthInbox.h"
#include "platform/music/ResultCodes.h"

namespace {

using platform::fluidsynth::SynthCore;
using platform::fluidsynth::SynthInbox;
using platform::music::BYTE;

class SynthInboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        SynthCore::Config config;
        config.reverb = config.chorus = false;
        platform::music::HRESULT hr = 0;
        core_ = SynthCore::Create(config, &hr);
        ASSERT_TRUE(core_) << hr;
        inbox_.emplace(core_->Synth());
    }

    void Post(std::vector<BYTE> bytes) {
        inbox_->Post(nullptr, 1, 1, bytes.data(), platform::music::DWORD(bytes.size()));
    }
    int Cc(int channel, int control) const {
        int value = -1;
        fluid_synth_get_cc(core_->Synth(), channel, control, &value);
        return value;
    }

    std::shared_ptr<SynthCore> core_;
    std::optional<SynthInbox> inbox_;
};

TEST_F(SynthInboxTest, QueuedMessagesPlayInOrderOnlyWhenDrained) {
    Post({0xB0, 7, 10});
    Post({0xB0, 7, 90});
    Post({0xB3, 10, 5});
    EXPECT_EQ(inbox_->Queued(), 3u);
    EXPECT_EQ(Cc(0, 7), 100) << "FluidSynth's default volume, untouched before the drain";
    inbox_->Drain();
    EXPECT_EQ(inbox_->Queued(), 0u);
    EXPECT_EQ(Cc(0, 7), 90);
    EXPECT_EQ(Cc(3, 10), 5);
}

// A message that cannot be queued (system exclusive, or a full ring) plays on the sender's
// thread, but only after everything queued before it; Flush plays the rest.
TEST_F(SynthInboxTest, AMessageThatDoesNotFitPlaysAfterEverythingQueuedBeforeIt) {
    for (std::size_t i = 0; i < SynthInbox::kCapacity; ++i)
        Post({0xB0, 7, BYTE(i % 100)});
    EXPECT_EQ(inbox_->Queued(), SynthInbox::kCapacity);
    Post({0xB0, 7, 120});
    EXPECT_EQ(inbox_->Queued(), 0u);
    EXPECT_EQ(Cc(0, 7), 120);

    // General MIDI on resets the controllers: the volume queued before it must not survive.
    Post({0xB0, 7, 33});
    Post({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(inbox_->Queued(), 0u);
    EXPECT_EQ(Cc(0, 7), 100);

    Post({0xB0, 7, 44});
    inbox_->Flush();
    EXPECT_EQ(Cc(0, 7), 44);
}

// Several senders and a renderer that drains between renders, as the output thread does:
// every sender's last value arrives, and (under the thread sanitizer) without a race.
TEST_F(SynthInboxTest, ConcurrentSendersLoseNothing) {
    constexpr int kSenders = 4;
    constexpr int kRounds = 3000;
    std::atomic<bool> rendering{true};
    std::thread renderer([&] {
        std::array<float, 128> out{};
        while (rendering) {
            inbox_->Drain();
            fluid_synth_write_float(core_->Synth(), 64, out.data(), 0, 2, out.data(), 1, 2);
        }
    });
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < kRounds; ++i)
                Post({BYTE(0xB0 | s), 1, BYTE(i % 128)});
            Post({BYTE(0xB0 | s), 1, 127});
        });
    for (std::thread& sender : senders)
        sender.join();
    rendering = false;
    renderer.join();
    inbox_->Flush();
    for (int s = 0; s < kSenders; ++s)
        EXPECT_EQ(Cc(s, 1), 127) << "channel " << s;
}

}  // namespace
