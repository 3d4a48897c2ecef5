#include "device/KeyScanThread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "device/KeyBed.h"
#include "platform/ch341/SimulatedKeyBed.h"

namespace device {
namespace {

using namespace std::chrono_literals;
using platform::ch341::SimulatedKeyBed;

// Stands in for the GUI thread's queue: the sink posts here, the test drains it. The wait is
// a hang guard, not a timing check.
class EventQueue {
public:
    void Post(std::span<const KeyEvent> events) {
        std::lock_guard lock(mutex_);
        batches_.emplace_back(events.begin(), events.end());
        ready_.notify_all();
    }
    std::vector<KeyEvent> Next() {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, 10s, [this] { return !batches_.empty(); })) {
            ADD_FAILURE() << "no events arrived";
            return {};
        }
        auto batch = std::move(batches_.front());
        batches_.pop_front();
        return batch;
    }
    bool Empty() {
        std::lock_guard lock(mutex_);
        return batches_.empty();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<KeyEvent>> batches_;
};

class KeyScanThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bed.OpenDevice(0));
        ASSERT_TRUE(bed.InitParallel(0, 2));
    }
    SimulatedKeyBed bed;
    KeyScanner scanner;
    EventQueue queue;
};

TEST_F(KeyScanThreadTest, DeliversEachTicksEventsInScanOrder) {
    KeyScanThread thread(scanner, bed, 1ms);
    for (const int key : {40, 3, 17}) {
        bed.Press(key);
    }
    thread.Start(0, [this](std::span<const KeyEvent> events) { queue.Post(events); });
    EXPECT_EQ(queue.Next(),
              (std::vector<KeyEvent>{{3, 0, 3, true}, {17, 1, 8, true}, {40, 4, 4, true}}));
    bed.Release(17);
    bed.Release(3);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{3, 0, 3, false}, {17, 1, 8, false}}));
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_GE(thread.Ticks(), 3U);
}

TEST_F(KeyScanThreadTest, StopWakesTheThreadWithoutWaitingForTheNextTick) {
    // With an hour's period, Stop returns only because it wakes the waiting thread.
    KeyScanThread thread(scanner, bed, 1h);
    thread.Start(0, [](std::span<const KeyEvent>) {});
    EXPECT_TRUE(thread.IsRunning());
    thread.Stop();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.Ticks(), 0U);
    EXPECT_EQ(bed.GetInputCalls(), 0);
}

TEST_F(KeyScanThreadTest, CountersSurviveAStopAndRestart) {
    KeyScanThread thread(scanner, bed, 1ms);
    const auto sink = [this](std::span<const KeyEvent> events) { queue.Post(events); };
    bed.FailReads(0);
    thread.Start(0, sink);
    bed.Press(9);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{9, 1, 0, true}}));
    thread.Stop();
    thread.Start(0, sink);
    bed.Release(9);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{9, 1, 0, false}}));
}

// The whole road with the simulated chip: plug-in posted from the "driver", handled on the
// test thread as the GUI would, key events flowing, unplug stopping the scan.
TEST(KeyBedWithSimulatedDevice, PlugScanAndUnplug) {
    SimulatedKeyBed device(false);
    struct View : IKeyBedView {
        void SetWindowTitle(std::string_view t) override { title = t; }
        void ShowErrorBox(std::string_view, std::string_view) override { ++boxes; }
        std::string title;
        int boxes = 0;
    } view;
    std::mutex postedMutex;
    std::vector<ULONG> posted;
    EventQueue queue;
    KeyBed keyBed(
        device, view,
        [&](ULONG code) {
            std::lock_guard lock(postedMutex);
            posted.push_back(code);
        },
        [&](std::span<const KeyEvent> events) { queue.Post(events); }, 1ms);
    keyBed.Start();
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);

    device.Plug();
    ASSERT_EQ(posted, (std::vector<ULONG>{3}));
    keyBed.OnDeviceEvent(3);
    EXPECT_EQ(view.title, KeyBed::kTitleWorking);
    EXPECT_EQ(device.Mode(), 2U);
    device.Press(48);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{48, 5, 3, true}}));

    device.Unplug();
    keyBed.OnDeviceEvent(0);
    EXPECT_FALSE(keyBed.IsScanning());
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);
    const int reads = device.GetInputCalls();
    device.Release(48);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device.GetInputCalls(), reads) << "no scan while closed";

    device.Plug();
    keyBed.OnDeviceEvent(3);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{48, 5, 3, false}}))
        << "the held key's counter survived the unplug: its release comes after replug";
    EXPECT_EQ(view.boxes, 0);
    keyBed.Destroy();
    EXPECT_FALSE(device.IsOpen());
}

}  // namespace
}  // namespace device
