#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <span>
#include <thread>

#include "device/KeyScanner.h"
#include "device/ScanClock.h"

namespace device {

// The key-bed thread: runs one KeyScanner tick every period (25 ms) on a fixed grid, so the
// USB round trips of a tick (one per row) never slow the GUI thread or drift the rate. A tick
// that runs past the next grid point is followed by the next tick at once, as a window timer
// fires again as soon as its handler returns; however many points it missed, that is one
// tick, never a burst, and the ticks after it are back on the grid.
class KeyScanThread {
public:
    // Runs on the key-bed thread as soon as a row's read found events: that row's events in
    // key order, rows in scan order. A press is not held back until the rest of the matrix
    // is read. It must only post them (to the GUI thread); it must not call Stop or wait for
    // the GUI thread.
    using EventSink = std::function<void(std::span<const KeyEvent>)>;
    // Runs on the key-bed thread when the first tick after Start read no row at all: the chip
    // opened but does not answer. The thread then ends by itself. It must only post.
    using FailureSink = std::function<void()>;

    // Runs first on the key-bed thread each time it starts (raising its priority, say).
    using ThreadSetup = std::function<void()>;

    static constexpr std::chrono::milliseconds kPeriod{25};

    // `scanner`, `device` and `clock` must outlive the thread.
    KeyScanThread(KeyScanner& scanner, platform::ch341::ICh341Device& device,
                  std::chrono::nanoseconds period = kPeriod,
                  ScanClock& clock = ScanClock::Steady());
    ~KeyScanThread();
    KeyScanThread(const KeyScanThread&) = delete;
    KeyScanThread& operator=(const KeyScanThread&) = delete;

    // Starts scanning device `index`; the first tick comes one period later. No-op while a
    // thread (running, or ended by itself and not yet stopped) is there.
    void Start(ULONG index, EventSink sink, FailureSink failed = {});
    // Takes effect at the next Start; not while a thread runs.
    void SetThreadSetup(ThreadSetup setup) { setup_ = std::move(setup); }
    // Asks the thread to stop and returns at once: no transfer starts after this.
    void RequestStop();
    // Stops and joins. The scan checks for the stop before every transfer, so this waits for
    // at most the transfer in flight (bounded by the driver's transfer timeout). Never call it
    // while holding the performance lock or from the sinks.
    void Stop();
    // A thread is there: started and not yet stopped.
    bool IsRunning() const;
    // The first tick of the latest Start read no row (the failure sink was called).
    bool FirstTickFailed() const { return firstTickFailed_; }

    // Ticks run since construction, and ticks that ran past the next tick's time.
    std::uint64_t Ticks() const { return ticks_; }
    std::uint64_t Overruns() const { return overruns_; }

private:
    void Run(ULONG index, std::stop_token stop);

    KeyScanner& scanner_;
    platform::ch341::ICh341Device& device_;
    const std::chrono::nanoseconds period_;
    ScanClock& clock_;
    EventSink sink_;
    FailureSink failed_;
    ThreadSetup setup_;

    std::atomic<bool> firstTickFailed_{false};
    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<std::uint64_t> overruns_{0};
    std::jthread thread_;  // declared last: joined before the members it uses go
};

}  // namespace device
