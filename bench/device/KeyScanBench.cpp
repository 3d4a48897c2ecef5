// Cost of one key-bed scan tick against the simulated chip (the CPU part of a tick, the round
// trips given no time; KeyBedLatencyBench measures them), and of handing a tick's events to
// the GUI thread.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "device/CKeyNoteMap.h"
#include "device/KeyScanThread.h"
#include "device/KeyScanner.h"
#include "platform/ch341/SimulatedKeyBed.h"

namespace {

using device::KeyEvent;
using device::KeyScanner;
using platform::ch341::SimulatedKeyBed;

// Round trips given no time: only the CPU part is measured.
constexpr std::chrono::microseconds kNoTransferTime{0};

void OpenBed(SimulatedKeyBed& bed) {
    bed.OpenDevice(0);
    bed.InitParallel(0, 2);
}

// All switches open: 8 writes, 8 reads, 72 counters looked at, no event.
void BM_ScanTickIdle(benchmark::State& state) {
    SimulatedKeyBed bed(true, kNoTransferTime);
    OpenBed(bed);
    KeyScanner scanner;
    std::vector<KeyEvent> events;
    events.reserve(KeyScanner::kSoundingKeys);
    for (auto _ : state) {
        events.clear();
        scanner.Scan(bed, 0, events);
        benchmark::DoNotOptimize(events.data());
    }
}
BENCHMARK(BM_ScanTickIdle);

// A ten-finger chord held down: counters climb, no event.
void BM_ScanTickChordHeld(benchmark::State& state) {
    SimulatedKeyBed bed(true, kNoTransferTime);
    OpenBed(bed);
    for (const int key : {0, 4, 7, 12, 16, 19, 24, 28, 31, 36}) {
        bed.Press(key);
    }
    KeyScanner scanner;
    std::vector<KeyEvent> events;
    events.reserve(KeyScanner::kSoundingKeys);
    for (auto _ : state) {
        events.clear();
        scanner.Scan(bed, 0, events);
        benchmark::DoNotOptimize(events.data());
    }
}
BENCHMARK(BM_ScanTickChordHeld);

// Worst case: all 49 sounding keys pressed and released over and over (closed, closed,
// open): a third of the ticks carry 49 presses, a third 49 releases.
void BM_ScanTickAllKeysToggling(benchmark::State& state) {
    SimulatedKeyBed bed(true, kNoTransferTime);
    OpenBed(bed);
    KeyScanner scanner;
    std::vector<KeyEvent> events;
    events.reserve(KeyScanner::kSoundingKeys);
    int phase = 0;
    std::size_t count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int key = 0; key < KeyScanner::kSoundingKeys; ++key) {
            if (phase == 2) {
                bed.Release(key);
            } else {
                bed.Press(key);
            }
        }
        phase = (phase + 1) % 3;
        events.clear();
        state.ResumeTiming();
        scanner.Scan(bed, 0, events);
        count += events.size();
    }
    state.counters["events/tick"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScanTickAllKeysToggling);

// Baseline hand-off: the batch copied into a locked queue, as a hand-rolled post would.
void BM_HandOffToLockedQueue(benchmark::State& state) {
    std::vector<KeyEvent> events(static_cast<std::size_t>(state.range(0)), KeyEvent{5, 0, 5, true});
    std::mutex mutex;
    std::deque<std::vector<KeyEvent>> queue;
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            queue.emplace_back(events.begin(), events.end());
        }
        std::lock_guard lock(mutex);
        queue.pop_front();
    }
}
BENCHMARK(BM_HandOffToLockedQueue)->Arg(1)->Arg(10)->Arg(49);

// The app's road: a queued Qt call carrying the batch, run by the receiving event loop, which
// hands it to the key-note map (with no dialog attached, so only the delivery is measured).
void BM_HandOffQueuedQtCall(benchmark::State& state) {
    std::vector<KeyEvent> events(static_cast<std::size_t>(state.range(0)), KeyEvent{5, 0, 5, true});
    QObject receiver;
    device::CKeyNoteMap map;
    for (auto _ : state) {
        QMetaObject::invokeMethod(
            &receiver,
            [&map, batch = std::vector<KeyEvent>(events.begin(), events.end())] {
                map.HandleKeyEvents(batch);
            },
            Qt::QueuedConnection);
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_HandOffQueuedQtCall)->Arg(1)->Arg(10)->Arg(49);

// A chip that stopped answering without disappearing: every read takes the driver's whole
// transfer timeout (100 ms) and fails.
class StalledChip final : public platform::ch341::ICh341Device {
public:
    using ULONG = platform::ch341::ULONG;
    using DWORD = platform::ch341::DWORD;
    static constexpr std::chrono::milliseconds kTimeout{100};

    bool SetDeviceNotify(ULONG, NotifyRoutine) override { return true; }
    bool OpenDevice(ULONG) override { return true; }
    void CloseDevice(ULONG) override {}
    bool InitParallel(ULONG, ULONG) override { return true; }
    bool SetOutput(ULONG, ULONG, ULONG, ULONG) override { return true; }
    bool GetInput(ULONG, DWORD* word) override {
        {
            std::lock_guard lock(mutex_);
            reading_ = true;
        }
        changed_.notify_all();
        std::this_thread::sleep_for(kTimeout);
        *word = platform::ch341::CH341_INPUT_UNKNOWN;
        return false;
    }
    void WaitForRead() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return reading_; });
        reading_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reading_ = false;
};

// How long stopping the scan takes while a read stalls: at most the transfer in flight, not
// the rest of the tick (8 reads). Wall time of Stop alone, stop requested at a random point
// of the read.
void BM_StopDuringStalledRead(benchmark::State& state) {
    int iteration = 0;
    for (auto _ : state) {
        StalledChip chip;
        KeyScanner scanner;
        device::KeyScanThread thread(scanner, chip, std::chrono::milliseconds(1));
        thread.Start(0, [](std::span<const KeyEvent>) {});
        chip.WaitForRead();
        std::this_thread::sleep_for(std::chrono::milliseconds(++iteration * 37 % 90));
        const auto begin = std::chrono::steady_clock::now();
        thread.Stop();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
}
BENCHMARK(BM_StopDuringStalledRead)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
