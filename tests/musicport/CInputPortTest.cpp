// The input port over the fake platform: activation rules, the notification thread's read
// passes and message forms, thru connections and stopping.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <variant>

#include "musicport/CInputPort.h"
#include "tests/musicport/MusicPortFixture.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Received {
    DWORD group = 0;
    DWORD msg = 0;               // short form
    std::vector<BYTE> longData;  // long form
    bool operator==(const Received&) const = default;
};

// Records what the notification thread delivers; tests wait for a number of events.
class RecordingReceiver final : public CMidiReceiver {
public:
    void ReceiveMidiMsg(REFERENCE_TIME, DWORD channelGroup, DWORD msg) override {
        Add({channelGroup, msg, {}});
    }
    void ReceiveMidiMsg(REFERENCE_TIME, DWORD channelGroup, DWORD length,
                        const BYTE* data) override {
        Add({channelGroup, 0, std::vector<BYTE>(data, data + length)});
    }
    // What has arrived once `count` events have, or after a generous deadline (a lost
    // wake-up then fails the test instead of hanging the suite).
    std::vector<Received> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(20),
                               [&] { return events_.size() >= count; }))
            ADD_FAILURE() << "only " << events_.size() << " of " << count << " events arrived";
        return events_;
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

private:
    void Add(Received r) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(r));
        }
        arrived_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Received> events_;
};

class CInputPortTest : public MusicPortFixture {
protected:
    void SetUp() override {
        MusicPortFixture::SetUp();
        input.Initialize(music);
    }
    // Input port 1 is "MIDI In"; output port 1 is "Synth".
    void ActivateInput() {
        PortInfo info{};
        ASSERT_EQ(input.GetPortInfo(1, &info), pm::S_OK);
        input.ActivatePort(&info, 32);
    }
    void StartNotification() {
        ActivateInput();
        input.SetReceiver(&receiver);
        input.ActivateNotification();
    }
    std::size_t LogCount(const std::string& entry) {
        const auto log = system.Log();
        return std::size_t(std::count(log.begin(), log.end(), entry));
    }

    CInputPort input;
    RecordingReceiver receiver;
};

TEST_F(CInputPortTest, DeliversEachMessageInItsForm) {
    StartNotification();
    midiIn.Receive({0xC5, 0x07});
    midiIn.Receive({0x90, 0x3C, 0x40});
    midiIn.Receive({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    midiIn.Receive({0xF8});
    EXPECT_THAT(receiver.WaitFor(4),
                ElementsAre(Received{1, 0x000007C5, {}}, Received{1, 0x00403C90, {}},
                            Received{1, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
                            Received{1, 0x000000F8, {}}));
    input.DeactivateNotification();
}

TEST_F(CInputPortTest, ReadsAgainUntilThePortHasNothingMore) {
    ActivateInput();
    input.SetReceiver(&receiver);
    // Five note messages wait before the thread starts; the 56-byte buffer takes two
    // 24-byte events per read, so three reads carry data and a fourth finds nothing.
    for (BYTE note = 60; note < 65; ++note)
        midiIn.Receive({0x90, note, 0x7F});
    system.ClearLog();
    input.ActivateNotification();
    const auto got = receiver.WaitFor(5);
    // The pass ends with the read that finds nothing; no read follows it.
    while (LogCount("Read(MIDI In)") < 4)
        std::this_thread::yield();
    input.DeactivateNotification();
    ASSERT_EQ(got.size(), 5u);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].msg, MakeMidiMsg(0x90, 0, BYTE(60 + i), 0x7F));
    EXPECT_EQ(LogCount("Read(MIDI In)"), 4u);
}

TEST_F(CInputPortTest, PreconditionsThrowOrReturnMinusOne) {
    struct Case {
        const char* what;
        std::function<void(CInputPort&)> call;
        std::string label;
    };
    const std::vector<Case> throwing = {
        {"receiver on an inactive port", [&](CInputPort& p) { p.SetReceiver(&receiver); },
         "CInputPort::SetReceiver()"},
        {"notification on an inactive port", [](CInputPort& p) { p.ActivateNotification(); },
         "CInputPort::ActivateNotification()"},
        {"thru without a port", [&](CInputPort& p) { p.SetThru(0, 0, 0, port); },
         "CInputPort::SetThru()"},
        {"break without a port", [](CInputPort& p) { p.BreakThru(0, 0, 0); },
         "CInputPort::BreakThru()"},
        {"priority without a thread", [](CInputPort& p) { p.SetThreadPriority(0); },
         "CInputPort::SetThreadPriority()"},
    };
    for (const Case& c : throwing) {
        CInputPort fresh;
        fresh.Initialize(music);
        const Thrown thrown = Catch([&] { c.call(fresh); });
        EXPECT_EQ(thrown.code, -1) << c.what;
        EXPECT_EQ(thrown.label, c.label) << c.what;
    }
    CInputPort idle;
    idle.Initialize(music);
    EXPECT_EQ(idle.DeactivatePort(), -1);
    EXPECT_EQ(idle.DeactivateNotification(), -1);
    EXPECT_EQ(idle.BreakAllThru(), -1);
}

TEST_F(CInputPortTest, NotificationWithoutReceiverThrowsAndBlocksReactivation) {
    ActivateInput();
    EXPECT_EQ(Catch([&] { input.ActivateNotification(); }).code, -1);
    input.DeactivatePort();
    PortInfo info{};
    input.GetPortInfo(1, &info);
    // The data event of the failed start remains until DeactivateNotification.
    EXPECT_EQ(Catch([&] { input.ActivatePort(&info, 32); }).code, -1);
    input.DeactivateNotification();
    EXPECT_EQ(Catch([&] { input.ActivatePort(&info, 32); }).code, 0);
}

TEST_F(CInputPortTest, PlatformFailuresThrowTheirOwnResult) {
    midiIn.FailOn("SetReadNotificationHandle", pm::E_OUTOFMEMORY);
    ActivateInput();
    input.SetReceiver(&receiver);
    const Thrown thrown = Catch([&] { input.ActivateNotification(); });
    EXPECT_EQ(thrown.code, pm::E_OUTOFMEMORY);
    EXPECT_EQ(thrown.label, "CInputPort::ActivateNotification()");
    EXPECT_FALSE(input.IsNotificationRunning());
    input.DeactivateNotification();

    midiIn.FailOn("ThruChannel", pm::E_FAIL);
    Activate(1);
    EXPECT_EQ(Catch([&] { input.SetThru(0, 0, 0, port); }).code, pm::E_FAIL);
    EXPECT_THAT(input.GetThruList(), IsEmpty());
}

TEST_F(CInputPortTest, ActivationWhileNotificationRunsIsRefused) {
    StartNotification();
    PortInfo info{};
    input.GetPortInfo(2, &info);
    EXPECT_EQ(Catch([&] { input.ActivatePort(&info, 32); }).code, -1);
    EXPECT_EQ(keyboardIn.OpenCount(), 0);
    input.DeactivateNotification();
}

TEST_F(CInputPortTest, ThruListKeepsOneEntryPerConnection) {
    ActivateInput();
    Activate(1);
    input.SetThru(0, 0, 0, port);
    input.SetThru(0, 0, 0, port);
    input.SetThru(1, 0, 2, port);
    EXPECT_THAT(input.GetThruList(), ElementsAre(ThruEntry{0, 0, 0}, ThruEntry{1, 0, 2}));

    system.ClearLog();
    input.BreakThru(5, 0, 5);  // never set: still asked of the platform
    EXPECT_THAT(system.Log(), ElementsAre("ThruChannel(MIDI In,1,5,0,5,null)"));
    EXPECT_EQ(input.GetThruList().size(), 2u);

    input.BreakThru(0, 0, 0);
    EXPECT_THAT(input.GetThruList(), ElementsAre(ThruEntry{1, 0, 2}));

    system.ClearLog();
    EXPECT_EQ(input.BreakAllThru(), 0);
    EXPECT_THAT(system.Log(), ElementsAre("ThruChannel(MIDI In,1,1,0,2,null)"));
    EXPECT_THAT(input.GetThruList(), IsEmpty());
}

TEST_F(CInputPortTest, ThruForwardsTheSourceChannelRemappedWithoutTheReceiver) {
    ActivateInput();
    Activate(1);
    input.SetThru(0, 0, 3, port);
    input.SetThru(0, 0, 3, port);  // set twice: still one route
    // Routes from the channels the low bits of real-time statuses name.
    input.SetThru(8, 0, 8, port);
    input.SetThru(14, 0, 14, port);
    midiIn.Receive({0x90, 69, 100});     // channel 1: forwarded to channel 4
    midiIn.Receive({0x95, 69, 100});     // channel 6: not connected
    midiIn.Receive({0xF0, 1, 2, 0xF7});  // system exclusive is never forwarded
    midiIn.Receive({0xF8});              // real-time messages belong to no channel
    midiIn.Receive({0xFE});
    midiIn.Receive({0xC0, 5});
    EXPECT_THAT(synth.ThruReceived(), ElementsAre(std::pair<DWORD, DWORD>{0, 0x00644593},
                                                  std::pair<DWORD, DWORD>{0, 0x05C3}));
    input.BreakThru(0, 0, 3);
    input.BreakThru(8, 0, 8);
    input.BreakThru(14, 0, 14);
    midiIn.Receive({0x80, 69, 0});
    EXPECT_EQ(synth.ThruReceived().size(), 2u);
    // Nothing reached the output port's buffer path: thru does not send through the layer.
    EXPECT_THAT(synth.Played(), IsEmpty());
}

TEST_F(CInputPortTest, ThruDestinationMayCloseFirst) {
    StartNotification();
    Activate(1);
    input.SetThru(0, 0, 0, port);
    midiIn.Receive({0x90, 60, 1});
    ASSERT_EQ(synth.ThruReceived().size(), 1u);
    port.DeactivatePort();
    // The sink outlives its port: input still reaches the receiver, and the connection is
    // still listed and can be broken.
    midiIn.Receive({0x80, 60, 0});
    EXPECT_THAT(receiver.WaitFor(2),
                ElementsAre(Received{1, 0x00013C90, {}}, Received{1, 0x00003C80, {}}));
    EXPECT_THAT(input.GetThruList(), ElementsAre(ThruEntry{0, 0, 0}));
    EXPECT_EQ(input.BreakThru(0, 0, 0), 0);
    EXPECT_THAT(input.GetThruList(), IsEmpty());
    // A destination opened again is connected again.
    Activate(1);
    input.SetThru(0, 0, 0, port);
    midiIn.Receive({0x90, 62, 1});
    receiver.WaitFor(3);
    EXPECT_EQ(synth.ThruReceived().back(), (std::pair<DWORD, DWORD>{0, 0x00013E90}));
    input.DeactivateNotification();
}

TEST_F(CInputPortTest, NoEventIsDeliveredAfterDeactivationReturns) {
    StartNotification();
    std::atomic<bool> streaming{true};
    std::thread source([&] {
        BYTE note = 0;
        while (streaming)
            midiIn.Receive({0x90, BYTE(note++ & 0x7F), 0x40});
    });
    receiver.WaitFor(100);
    input.DeactivateNotification();
    EXPECT_FALSE(input.IsNotificationRunning());  // joined, not left behind
    const std::size_t delivered = receiver.Count();
    // More input keeps arriving; none of it reaches the receiver.
    const std::size_t waitingBefore = midiIn.Waiting();
    while (midiIn.Waiting() < waitingBefore + 50 && midiIn.Waiting() < 8000)
        std::this_thread::yield();
    streaming = false;
    source.join();
    EXPECT_EQ(receiver.Count(), delivered);

    // A restart delivers again, with the receiver kept.
    input.ActivateNotification();
    receiver.WaitFor(delivered + 1);
    input.DeactivateNotification();
}

TEST_F(CInputPortTest, DestructorStopsThreadAndBreaksThru) {
    {
        CInputPort scoped;
        scoped.Initialize(music);
        PortInfo info{};
        scoped.GetPortInfo(1, &info);
        scoped.ActivatePort(&info, 32);
        Activate(1);
        scoped.SetThru(0, 0, 0, port);
        scoped.SetReceiver(&receiver);
        scoped.ActivateNotification();
        system.ClearLog();
    }
    EXPECT_THAT(system.Log(), ElementsAre("SetReadNotificationHandle(MIDI In,0)",
                                          "ThruChannel(MIDI In,1,0,0,0,null)",
                                          "Activate(MIDI In,0)", "ReleasePort(MIDI In)"));
}

}  // namespace
}  // namespace musicport::test
