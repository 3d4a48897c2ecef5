#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "recorder/IPlaybackSink.h"

namespace recorder {

class CNoteRecorder;
class IPlaybackTimer;
class IRecorderView;
class SongPlayer;

enum class RecordState : int { Recording = 0, Idle = 1, Playing = 2 };

// Record, Stop and Play of the main window: the record state, the recording step of every
// note source, the MIDI receiver's recording and the playback runs. GUI-thread handlers take
// the performance lock themselves; the player threads never outlive Shutdown().
class RecorderControl final : private IPlaybackSink {
public:
    static constexpr int kSourceMidiInput = 2;
    static constexpr int kSourcePlayback = 3;

    RecorderControl(CNoteRecorder& recorder, std::recursive_mutex& lock, IRecorderView& view,
                    IPlaybackTimer& timer);
    ~RecorderControl() override;
    RecorderControl(const RecorderControl&) = delete;
    RecorderControl& operator=(const RecorderControl&) = delete;

    // GUI thread.
    void OnRecord();
    void OnPlay();
    void OnStop() { StopPerformance(); }
    // Ends recording or playback and returns to idle.
    void StopPerformance();
    // The window is closing: the player ends at once (joined by Shutdown).
    void OnClosing();
    // Stops and joins every player thread. GUI thread, without the performance lock held.
    void Shutdown();

    // Any thread: the recording step for a message just played. While recording, appends it
    // and moves the progress bar; a full song ends the recording instead.
    void RecordMessage(std::uint32_t msg);
    // The same step for a message that arrived at `arrival` (a MIDI input note, recorded when
    // the GUI thread gets to it): its delay is counted from its arrival.
    void RecordMessage(std::uint32_t msg, std::chrono::steady_clock::time_point arrival);

    // Any thread.
    RecordState State() const;
    // GUI thread, for the song-file commands (performance lock held by the caller).
    void SetState(RecordState state) { m_state = state; }
    CNoteRecorder& Recorder() { return m_recorder; }
    std::recursive_mutex& Lock() { return m_lock; }

private:
    // IPlaybackSink, player thread under the lock.
    void SendMidiMsg(std::uint32_t msg) override;
    void ShowNoteOn(std::uint8_t note, std::uint8_t velocity) override;
    void ShowNoteOff(std::uint8_t note) override;
    void PostProgress(std::uint32_t position) override;
    void PostPlaybackDone(std::uint64_t run) override;

    void Record(std::uint32_t msg, std::optional<std::chrono::steady_clock::time_point> at);
    // GUI thread: the end of run `run` (a stale run's end is ignored).
    void OnPlaybackDone(std::uint64_t run);
    // Joins the runs that have ended. GUI thread.
    void ReapFinishedPlayers();

    CNoteRecorder& m_recorder;
    std::recursive_mutex& m_lock;
    IRecorderView& m_view;
    IPlaybackTimer& m_timer;
    // Guarded by the performance lock; the GUI thread writes it.
    RecordState m_state = RecordState::Idle;
    std::uint64_t m_nextRun = 1;
    // GUI thread: the current run and stopped runs not yet joined.
    std::unique_ptr<SongPlayer> m_player;
    std::vector<std::unique_ptr<SongPlayer>> m_stoppedPlayers;
};

}  // namespace recorder
