#pragma once

#include <string>

namespace platform::process {

// How the calling thread got (or did not get) real-time scheduling.
enum class RealtimeGrant {
    Direct,       // SCHED_FIFO set by the thread itself (root, or an RLIMIT_RTPRIO allowance)
    RealtimeKit,  // granted by the RealtimeKit daemon over the system bus
    Refused,      // neither: the thread runs at normal priority
};

// Real-time priority of the threads that render or carry the synthesizer's sound: above every
// ordinary thread, so that a busy GUI or a compiler never delays a period; modest among
// real-time threads (audio servers run their own at 5 to 20). A render takes a small part of
// a period, so it never starves the server.
inline constexpr int kAudioRealtimePriority = 10;
// The key-bed scan: just below the sound. It works for microseconds per USB transfer and
// waits the rest of the time, but a press is heard a scan period late if a busy machine delays
// its wake-ups.
inline constexpr int kKeyBedRealtimePriority = 9;

// Makes the calling thread real-time (SCHED_FIFO at `priority`, reset on fork): directly where
// the system allows it, else through RealtimeKit (which may lower the priority to its own
// maximum). A thread that already runs real-time is left as it is and counts as Direct. Waits
// at most half a second for RealtimeKit. The first outcome of the process is written to the
// debug log once, with the reason for a refusal.
RealtimeGrant MakeThreadRealtime(int priority = kAudioRealtimePriority);

// Words for the log: "real-time directly", "real-time through RealtimeKit", "at normal priority".
std::string Describe(RealtimeGrant grant);

}  // namespace platform::process
