// Key-bed timing with the simulated chip spending one full-speed frame (1 ms) per synchronous
// transfer, as the real bridge does: how long a scan tick takes, and how long after a switch
// closes its press event leaves the key-bed thread. 25 presses of random keys at random
// moments; median and p90 in ms as counters. Each figure runs twice in the same process:
// "earlier" selects and reads each row with separate calls (three transfers per row) and hands
// events on at the end of the tick, and after a tick that ran late waits a whole further
// period; "now" is the scan thread as it is. The present thread runs again real-time (as the
// player runs it) and at normal priority, each alone and beside two CPU hogs at normal
// priority (one per core here).
//   build/bench/device/device_bench --benchmark_filter=KeyBed

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "device/KeyScanThread.h"
#include "device/KeyScanner.h"
#include "device/ScanClock.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/process/RealtimeThread.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using device::KeyEvent;
using device::KeyScanner;
using device::KeyScanThread;
using platform::ch341::DWORD;
using platform::ch341::ICh341Device;
using platform::ch341::SimulatedKeyBed;
using platform::ch341::ULONG;

constexpr int kPresses = 25;

// The simulated chip reached through separate SetOutput and GetInput calls only, as the scan
// made them before the two commands went out in one transfer.
class SeparateCalls final : public ICh341Device {
public:
    explicit SeparateCalls(ICh341Device& device) : device_(device) {}
    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override {
        return device_.SetDeviceNotify(index, std::move(routine));
    }
    bool OpenDevice(ULONG index) override { return device_.OpenDevice(index); }
    void CloseDevice(ULONG index) override { device_.CloseDevice(index); }
    bool InitParallel(ULONG index, ULONG mode) override {
        return device_.InitParallel(index, mode);
    }
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override {
        return device_.SetOutput(index, enable, direction, data);
    }
    bool GetInput(ULONG index, DWORD* word) override { return device_.GetInput(index, word); }

private:
    ICh341Device& device_;
};

// The earlier scan thread's schedule: a whole tick, then its events; after a late tick the
// next one waits a full period from the moment the late one ended.
class EarlierScanThread {
public:
    using Sink = std::function<void(std::span<const KeyEvent>)>;
    EarlierScanThread(KeyScanner& scanner, ICh341Device& device, Sink sink)
        : thread_([&scanner, &device, sink = std::move(sink)](std::stop_token stop) {
              std::vector<KeyEvent> events;
              auto deadline = Clock::now() + KeyScanThread::kPeriod;
              for (;;) {
                  if (device::ScanClock::Steady().WaitUntil(deadline, stop)) {
                      return;
                  }
                  events.clear();
                  scanner.Scan(device, 0, events, stop);
                  if (!events.empty()) {
                      sink(events);
                  }
                  deadline += KeyScanThread::kPeriod;
                  const auto now = Clock::now();
                  if (now >= deadline) {
                      deadline = now + KeyScanThread::kPeriod;
                  }
              }
          }) {}

private:
    std::jthread thread_;
};

// Notes when the key under test is reported pressed or released.
class Probe {
public:
    void Sink(std::span<const KeyEvent> events) {
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        for (const KeyEvent& e : events) {
            if (e.key == key_ && e.pressed == !pressed_) {
                pressed_ = e.pressed;
                seen_ = now;
                changed_.notify_all();
            }
        }
    }
    void Expect(int key) {
        std::lock_guard lock(mutex_);
        key_ = key;
    }
    // When the key reached `pressed`; none if it did not within two seconds.
    std::optional<Clock::time_point> WaitFor(bool pressed) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 2s, [&] { return pressed_ == pressed; })) {
            return std::nullopt;
        }
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int key_ = -1;
    bool pressed_ = false;
    Clock::time_point seen_;
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto at =
        static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

void Report(benchmark::State& state, const std::vector<double>& ms) {
    if (ms.size() != kPresses) {
        state.SkipWithError("a press or release was never reported");
        return;
    }
    state.counters["median_ms"] = Percentile(ms, 0.5);
    state.counters["p90_ms"] = Percentile(ms, 0.9);
}

// One tick over the chip, rows selected and read with the calls of each schedule.
void BM_KeyBedScanTick(benchmark::State& state, bool earlier) {
    SimulatedKeyBed bed;
    bed.OpenDevice(0);
    bed.InitParallel(0, 2);
    SeparateCalls separate(bed);
    ICh341Device& device = earlier ? static_cast<ICh341Device&>(separate) : bed;
    KeyScanner scanner;
    std::vector<KeyEvent> events;
    std::vector<double> ms;
    for (auto _ : state) {
        const int before = bed.Transfers();
        const auto begin = Clock::now();
        scanner.Scan(device, 0, events);
        const std::chrono::duration<double, std::milli> took = Clock::now() - begin;
        state.SetIterationTime(took.count() / 1000.0);
        ms.push_back(took.count());
        state.counters["transfers"] = bed.Transfers() - before;
    }
    Report(state, ms);
}
BENCHMARK_CAPTURE(BM_KeyBedScanTick, earlier, true)
    ->UseManualTime()
    ->Iterations(kPresses)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedScanTick, now, false)
    ->UseManualTime()
    ->Iterations(kPresses)
    ->Unit(benchmark::kMillisecond);

// Switch closed to press event handed on by the key-bed thread. The presses come at random
// moments of the period, on random sounding keys; the same sequence for both schedules.
// The two changes are also run one at a time: separate calls with the present schedule, and
// batched calls with the earlier schedule.
void BM_KeyBedPressToEvent(benchmark::State& state, bool earlierCalls, bool earlierSchedule,
                           bool realtime = false, bool hogs = false) {
    std::atomic<bool> hogging{hogs};
    std::vector<std::jthread> hogThreads;
    for (int i = 0; hogs && i < 2; ++i) {
        hogThreads.emplace_back([&hogging] {
            volatile unsigned spin = 0;
            while (hogging.load(std::memory_order_relaxed))
                spin = spin + 1;
        });
    }
    for (auto _ : state) {
        SimulatedKeyBed bed;
        bed.OpenDevice(0);
        bed.InitParallel(0, 2);
        SeparateCalls separate(bed);
        KeyScanner scanner;
        Probe probe;
        const auto sink = [&probe](std::span<const KeyEvent> events) { probe.Sink(events); };
        std::optional<EarlierScanThread> earlierThread;
        std::optional<KeyScanThread> thread;
        ICh341Device& device = earlierCalls ? static_cast<ICh341Device&>(separate) : bed;
        if (earlierSchedule) {
            earlierThread.emplace(scanner, device, sink);
        } else {
            thread.emplace(scanner, device);
            if (realtime) {
                thread->SetThreadSetup([] {
                    platform::process::MakeThreadRealtime(
                        platform::process::kKeyBedRealtimePriority);
                });
            }
            thread->Start(0, sink);
        }
        std::mt19937 random(16);
        std::uniform_int_distribution<int> keys(0, KeyScanner::kSoundingKeys - 1);
        std::uniform_int_distribution<int> pauseUs(0, 25'000);
        std::vector<double> ms;
        for (int press = 0; press < kPresses; ++press) {
            const int key = keys(random);
            probe.Expect(key);
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
            const auto closed = Clock::now();
            bed.Press(key);
            const auto seen = probe.WaitFor(true);
            bed.Release(key);
            if (!seen || !probe.WaitFor(false)) {
                break;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(*seen - closed).count());
        }
        if (thread) {
            thread->Stop();
        }
        state.counters["overruns"] = thread ? static_cast<double>(thread->Overruns()) : 0.0;
        Report(state, ms);
    }
    hogging = false;
}
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, earlier, true, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, earlier_calls_present_schedule, true, false)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, batched_calls_earlier_schedule, false, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, now, false, false)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, now_realtime, false, false, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, now_two_hogs, false, false, false, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyBedPressToEvent, now_realtime_two_hogs, false, false, true, true)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
