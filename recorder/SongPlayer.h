#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "recorder/StopSignal.h"

namespace recorder {

class CNoteRecorder;
class IPlaybackSink;
class IPlaybackTimer;

// One playback run on a thread of its own: replays the recorder's song from the start through
// the sink, keeping to the song's timeline: event k is due at the sum of the delays of events
// 1..k after the first event was played, so the time spent sending and drawing never adds up.
//
// The run holds `lock` while it reads the recorder and plays one event, never while it waits.
// Once a stop is requested it touches the recorder no more (it checks after taking the lock),
// so the song may be replaced under the lock without waiting for the thread; its last act is
// PostPlaybackDone(run).
class SongPlayer {
public:
    SongPlayer(CNoteRecorder& recorder, std::recursive_mutex& lock, IPlaybackSink& sink,
               IPlaybackTimer& timer, std::uint64_t run);
    // Requests a stop and joins the thread: call without holding `lock`.
    ~SongPlayer();
    SongPlayer(const SongPlayer&) = delete;
    SongPlayer& operator=(const SongPlayer&) = delete;

    // GUI thread, once.
    void Start();
    // Any thread. Cuts a wait short at once.
    void RequestStop() { m_stop.Request(); }
    // True once the thread has posted its end; joining it then does not block for long.
    bool Finished() const { return m_finished.load(); }
    // Joins the thread; call without holding `lock`.
    void Join();

    std::uint64_t Run() const { return m_run; }

private:
    void ThreadMain();

    CNoteRecorder& m_recorder;
    std::recursive_mutex& m_lock;
    IPlaybackSink& m_sink;
    IPlaybackTimer& m_timer;
    const std::uint64_t m_run;
    StopSignal m_stop;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

}  // namespace recorder
