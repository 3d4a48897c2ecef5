#include "device/KeyScanThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

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

// Each row's events go out as soon as the row is read, rows in scan order, keys in order.
TEST_F(KeyScanThreadTest, DeliversEachRowsEventsAsSoonAsTheRowIsRead) {
    KeyScanThread thread(scanner, bed, 1ms);
    for (const int key : {40, 3, 17, 5}) {
        bed.Press(key);
    }
    thread.Start(0, [this](std::span<const KeyEvent> events) { queue.Post(events); });
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{3, 0, 3, true}, {5, 0, 5, true}}));
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{17, 1, 8, true}}));
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{40, 4, 4, true}}));
    bed.Release(3);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{3, 0, 3, false}}));
    bed.Release(17);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{17, 1, 8, false}}));
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

// The set-up (the player raises the thread's priority there) runs on the key-bed thread itself,
// before its first transfer, once for every start.
TEST_F(KeyScanThreadTest, TheThreadSetupRunsOnTheScanThreadBeforeItsFirstTransferAtEachStart) {
    KeyScanThread thread(scanner, bed, 1ms);
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, int>> setups;  // thread, transfers done before
    thread.SetThreadSetup([&] {
        std::lock_guard lock(mutex);
        setups.emplace_back(std::this_thread::get_id(), bed.Transfers());
    });
    std::thread::id scanThread;
    const auto sink = [&](std::span<const KeyEvent> events) {
        {
            std::lock_guard lock(mutex);
            scanThread = std::this_thread::get_id();
        }
        queue.Post(events);
    };
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        const int transfersBefore = bed.Transfers();
        thread.Start(0, sink);
        bed.Press(9);
        EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{9, 1, 0, true}}));
        bed.Release(9);
        EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{9, 1, 0, false}}));
        thread.Stop();
        std::lock_guard lock(mutex);
        ASSERT_EQ(setups.size(), std::size_t(start + 1));
        EXPECT_EQ(setups.back().first, scanThread);
        EXPECT_NE(setups.back().first, std::this_thread::get_id());
        EXPECT_EQ(setups.back().second, transfersBefore);
    }
}

// Time that moves only when the scan waits for a deadline, or when the device says a
// transfer took long. Used on the key-bed thread only.
class SteppedClock final : public ScanClock {
public:
    TimePoint Now() override { return now; }
    bool WaitUntil(TimePoint deadline, std::stop_token stop) override {
        now = std::max(now, deadline);
        std::this_thread::yield();
        return stop.stop_requested();
    }
    TimePoint now{};
};

// The simulated key bed on the stepped clock: each tick's reads take the time the test says
// (spread over its eight reads); it notes when each tick starts and ends.
class TimedKeyBed final : public platform::ch341::ICh341Device {
public:
    using TickTime = std::function<std::chrono::nanoseconds(int tick)>;
    TimedKeyBed(SteppedClock& clock, TickTime tickTime)
        : bed_(true, std::chrono::microseconds::zero()),
          clock_(clock),
          tickTime_(std::move(tickTime)) {
        bed_.OpenDevice(0);
        bed_.InitParallel(0, 2);
    }
    bool SetDeviceNotify(ULONG, NotifyRoutine) override { return true; }
    bool OpenDevice(ULONG) override { return true; }
    void CloseDevice(ULONG) override {}
    bool InitParallel(ULONG, ULONG) override { return true; }
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override {
        if (reads_ % 8 == 0) {
            starts.push_back(clock_.now);
        }
        return bed_.SetOutput(index, enable, direction, data);
    }
    bool GetInput(ULONG index, DWORD* word) override {
        clock_.now += tickTime_(reads_ / 8) / 8;
        const bool ok = bed_.GetInput(index, word);
        if (++reads_ % 8 == 0) {
            ends.push_back(clock_.now);
        }
        return ok;
    }

    std::vector<ScanClock::TimePoint> starts;
    std::vector<ScanClock::TimePoint> ends;

private:
    SimulatedKeyBed bed_;
    SteppedClock& clock_;
    TickTime tickTime_;
    int reads_ = 0;
};

// Ticks stay on the period's grid. One that runs past the next grid point is followed by the
// next tick at once, as a window timer fires again when its handler returns: a scan a little
// longer than the period runs back to back instead of waiting a further period, and a long
// stall costs one catch-up tick, not a burst of the missed ones.
TEST(KeyScanThreadSchedule, ATickRunningPastThePeriodIsFollowedAtOnceThenTheGridResumes) {
    constexpr auto kPeriod = 25ms;
    struct Case {
        const char* name;
        TimedKeyBed::TickTime tickTime;
        std::vector<std::chrono::milliseconds> starts;  // after the thread started
        std::optional<std::uint64_t> overruns;          // none: every tick overruns
    };
    const std::vector<Case> cases{
        {"scan within the period",
         [](int) -> std::chrono::nanoseconds { return 8ms; },
         {25ms, 50ms, 75ms, 100ms, 125ms, 150ms},
         0},
        {"scan of 28 ms",
         [](int) -> std::chrono::nanoseconds { return 28ms; },
         {25ms, 53ms, 81ms, 109ms, 137ms, 165ms},
         std::nullopt},
        {"ten-period stall in tick 2",
         [](int tick) -> std::chrono::nanoseconds { return tick == 2 ? 250ms : 8ms; },
         {25ms, 50ms, 75ms, 325ms, 350ms, 375ms},
         1},
        {"stall ending exactly on a grid point",
         [](int tick) -> std::chrono::nanoseconds { return tick == 1 ? 50ms : 0ms; },
         {25ms, 50ms, 100ms, 125ms, 150ms, 175ms},
         1},
    };
    for (const Case& c : cases) {
        SteppedClock clock;
        TimedKeyBed device(clock, c.tickTime);
        KeyScanner scanner;
        KeyScanThread thread(scanner, device, kPeriod, clock);
        thread.Start(0, [](std::span<const KeyEvent>) {});
        for (int guard = 0; thread.Ticks() < c.starts.size() + 1 && guard < 10'000; ++guard) {
            std::this_thread::sleep_for(1ms);
        }
        thread.Stop();
        ASSERT_GT(device.starts.size(), c.starts.size()) << c.name;
        for (std::size_t tick = 0; tick < c.starts.size(); ++tick) {
            EXPECT_EQ(device.starts[tick] - ScanClock::TimePoint{}, c.starts[tick])
                << c.name << ", tick " << tick;
        }
        if (c.overruns) {
            EXPECT_EQ(thread.Overruns(), *c.overruns) << c.name;
        }
    }
}

TEST_F(KeyScanThreadTest, AFirstTickThatReadsNoRowIsReportedOnceAndEndsTheThread) {
    SteppedClock clock;  // the thread never waits: a tick after the report would come at once
    KeyScanThread thread(scanner, bed, 1ms, clock);
    std::atomic<int> failures{0};
    bed.FailReads(-1);
    thread.Start(
        0, [](std::span<const KeyEvent>) {}, [&failures] { ++failures; });
    for (int guard = 0; failures == 0 && guard < 10'000; ++guard) {
        std::this_thread::sleep_for(1ms);
    }
    thread.Stop();
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(thread.FirstTickFailed());
    EXPECT_EQ(bed.GetInputCalls(), 8) << "one tick, then no more";

    // One row answering is not a dead chip; nor are failures after a good first tick.
    bed.FailReads(7);
    thread.Start(
        0, [](std::span<const KeyEvent>) {}, [&failures] { ++failures; });
    for (int guard = 0; thread.Ticks() < 4 && guard < 10'000; ++guard) {
        std::this_thread::sleep_for(1ms);
    }
    bed.FailReads(-1);
    const std::uint64_t ticks = thread.Ticks();
    for (int guard = 0; thread.Ticks() < ticks + 4 && guard < 10'000; ++guard) {
        std::this_thread::sleep_for(1ms);
    }
    thread.Stop();
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(thread.FirstTickFailed());
}

// A key bed whose reads block, one at a time, until the test lets them go.
class GatedKeyBed final : public platform::ch341::ICh341Device {
public:
    GatedKeyBed() {
        bed_.OpenDevice(0);
        bed_.InitParallel(0, 2);
    }
    bool SetDeviceNotify(ULONG, NotifyRoutine) override { return true; }
    bool OpenDevice(ULONG) override { return true; }
    void CloseDevice(ULONG) override {}
    bool InitParallel(ULONG, ULONG) override { return true; }
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override {
        ++calls;
        return bed_.SetOutput(index, enable, direction, data);
    }
    bool GetInput(ULONG index, DWORD* word) override {
        ++calls;
        std::unique_lock lock(mutex_);
        blocked_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, 10s, [this] { return open_; });
        open_ = false;
        blocked_ = false;
        return bed_.GetInput(index, word);
    }
    void WaitUntilBlocked() {
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(changed_.wait_for(lock, 10s, [this] { return blocked_; }));
    }
    void LetOneGo() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::atomic<int> calls{0};

private:
    SimulatedKeyBed bed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool blocked_ = false;
    bool open_ = false;
};

TEST(KeyScanThreadStop, StopWaitsOnlyForTheTransferInFlight) {
    GatedKeyBed device;
    KeyScanner scanner;
    KeyScanThread thread(scanner, device, 1ms);
    thread.Start(0, [](std::span<const KeyEvent>) {});
    device.WaitUntilBlocked();
    device.LetOneGo();
    device.WaitUntilBlocked();  // row 1 of the first tick
    const int calls = device.calls;
    thread.RequestStop();
    device.LetOneGo();
    thread.Stop();
    EXPECT_EQ(device.calls, calls) << "no transfer after the stop request";
    EXPECT_EQ(thread.Ticks(), 1U) << "the cut-short tick";
}

// The key-bed state over the simulated chip, with the test thread as the GUI thread: posted
// device codes wait in `posted` until HandlePosted runs them, as the dialog's queue would.
class KeyBedWithSimulatedDevice : public ::testing::Test {
protected:
    struct View : IKeyBedView {
        void SetWindowTitle(std::string_view t) override { title = t; }
        void ShowErrorBox(std::string_view, std::string_view) override {
            ++boxes;
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            if (duringBox) {
                duringBox();  // the box's modal loop runs what is queued
            }
            --depth;
        }
        std::string title;
        int boxes = 0;
        int depth = 0;
        int maxDepth = 0;
        std::function<void()> duringBox;
    };

    KeyBed& Make() {
        keyBed = std::make_unique<KeyBed>(
            device, view,
            [this](ULONG code) {
                std::lock_guard lock(postedMutex);
                posted.push_back(code);
                postedChanged.notify_all();
            },
            [this](std::span<const KeyEvent> events) { queue.Post(events); }, 1ms);
        return *keyBed;
    }
    // Runs the posted codes, including those posted while they run.
    void HandlePosted() {
        for (;;) {
            ULONG code = 0;
            {
                std::lock_guard lock(postedMutex);
                if (posted.empty()) {
                    return;
                }
                code = posted.front();
                posted.erase(posted.begin());
            }
            keyBed->OnDeviceEvent(code);
        }
    }
    void WaitForPosted() {
        std::unique_lock lock(postedMutex);
        EXPECT_TRUE(postedChanged.wait_for(lock, 10s, [this] { return !posted.empty(); }));
    }

    SimulatedKeyBed device{false};
    View view;
    std::mutex postedMutex;
    std::condition_variable postedChanged;
    std::vector<ULONG> posted;
    EventQueue queue;
    std::unique_ptr<KeyBed> keyBed;
};

// The whole road: plug-in posted from the "driver", handled as the GUI would, key events
// flowing, unplug stopping the scan and releasing the held key at once.
TEST_F(KeyBedWithSimulatedDevice, PlugScanAndUnplugReleasesTheHeldKey) {
    Make().Start();
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);

    device.Plug();
    ASSERT_EQ(posted, (std::vector<ULONG>{3}));
    HandlePosted();
    EXPECT_EQ(view.title, KeyBed::kTitleWorking);
    EXPECT_EQ(device.Mode(), 2U);
    device.Press(48);
    device.Press(60);  // held too, but above the keys that sound
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{48, 5, 3, true}}));

    device.Unplug();
    HandlePosted();
    EXPECT_FALSE(keyBed->IsScanning());
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{48, 5, 3, false}}))
        << "the key held at the unplug is released then, not when the device comes back";
    EXPECT_TRUE(queue.Empty());
    const int reads = device.GetInputCalls();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device.GetInputCalls(), reads) << "no scan while closed";

    // Still held when the device comes back: it sounds again.
    device.Plug();
    HandlePosted();
    EXPECT_EQ(queue.Next(), (std::vector<KeyEvent>{{48, 5, 3, true}}));
    EXPECT_EQ(view.boxes, 0);
    keyBed->Destroy();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(queue.Empty()) << "closing the window posts no releases";
}

TEST_F(KeyBedWithSimulatedDevice, AChipThatNeverAnswersIsAFailedOpenWithOneBox) {
    device.FailReads(-1);
    device.Plug();
    Make().Start();
    EXPECT_EQ(view.title, KeyBed::kTitleWorking);
    WaitForPosted();
    HandlePosted();
    EXPECT_EQ(view.boxes, 1);
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);
    EXPECT_FALSE(keyBed->IsDeviceOpen());
    EXPECT_FALSE(keyBed->IsScanning());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.GetInputCalls(), 8) << "one scan, no retries";

    // A report overtaken by a reopen that works is dropped.
    device.FailReads(0);
    device.Plug();
    HandlePosted();
    ASSERT_TRUE(keyBed->IsDeviceOpen());
    keyBed->OnDeviceEvent(KeyBed::kScanFailedEvent);
    EXPECT_TRUE(keyBed->IsDeviceOpen());
    EXPECT_EQ(view.title, KeyBed::kTitleWorking);
    EXPECT_EQ(view.boxes, 1);
}

TEST_F(KeyBedWithSimulatedDevice, ABouncingConnectorWithFailingOpensShowsOneBoxAtATime) {
    Make().Start();
    device.SetOpenFails(true);
    int nestedEvents = 0;
    bool bounced = false;
    view.duringBox = [&] {
        // The connector keeps bouncing while the (first) box is up.
        if (std::exchange(bounced, true)) {
            return;
        }
        for (int i = 0; i < 20; ++i) {
            device.Unplug();
            device.Plug();
        }
        {
            std::lock_guard lock(postedMutex);
            nestedEvents = static_cast<int>(posted.size());
        }
        HandlePosted();
    };
    device.Plug();
    HandlePosted();
    EXPECT_EQ(nestedEvents, 40);
    EXPECT_EQ(view.maxDepth, 1);
    EXPECT_EQ(view.boxes, 1);
    EXPECT_EQ(view.title, KeyBed::kTitleNoDevice);

    // Once it is dismissed, the next failure shows a box again; and a plug that works while
    // the box is up leaves the device open after it.
    view.duringBox = [&] {
        device.SetOpenFails(false);
        device.Plug();
        HandlePosted();
    };
    device.Plug();
    HandlePosted();
    EXPECT_EQ(view.boxes, 2);
    EXPECT_TRUE(keyBed->IsDeviceOpen());
    EXPECT_TRUE(keyBed->IsScanning());
    EXPECT_EQ(view.title, KeyBed::kTitleWorking);
}

}  // namespace
}  // namespace device
