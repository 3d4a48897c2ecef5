#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "device/KeyScanner.h"

namespace device {

// The key-bed thread: runs one KeyScanner tick every period (25 ms) on absolute deadlines, so
// the USB round trips of a tick (16 transfers) never slow the GUI thread or drift the rate.
class KeyScanThread {
public:
    // Runs on the key-bed thread once per tick that found events, in scan order. It must only
    // post them (to the GUI thread); it must not call Stop or wait for the GUI thread.
    using EventSink = std::function<void(std::span<const KeyEvent>)>;

    static constexpr std::chrono::milliseconds kPeriod{25};

    // `scanner` and `device` must outlive the thread.
    KeyScanThread(KeyScanner& scanner, platform::ch341::ICh341Device& device,
                  std::chrono::nanoseconds period = kPeriod);
    ~KeyScanThread();
    KeyScanThread(const KeyScanThread&) = delete;
    KeyScanThread& operator=(const KeyScanThread&) = delete;

    // Starts scanning device `index`; the first tick comes one period later. No-op if running.
    void Start(ULONG index, EventSink sink);
    // Stops and joins; returns within one tick. Never call it while holding the performance
    // lock or from the sink.
    void Stop();
    bool IsRunning() const;

    // Ticks run since construction, and ticks that started a whole period late.
    std::uint64_t Ticks() const { return ticks_; }
    std::uint64_t Overruns() const { return overruns_; }

private:
    void Run(ULONG index);

    KeyScanner& scanner_;
    platform::ch341::ICh341Device& device_;
    const std::chrono::nanoseconds period_;
    EventSink sink_;

    std::mutex mutex_;  // guards stop_ for the condition variable
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<std::uint64_t> ticks_{0};
    std::atomic<std::uint64_t> overruns_{0};
    std::thread thread_;
};

}  // namespace device
