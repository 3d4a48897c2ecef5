#include "recorder/SongPlayer.h"

#include "recorder/CNoteRecorder.h"
#include "recorder/IPlaybackSink.h"
#include "recorder/IPlaybackTimer.h"

namespace recorder {

SongPlayer::SongPlayer(CNoteRecorder& recorder, std::recursive_mutex& lock, IPlaybackSink& sink,
                       IPlaybackTimer& timer, std::uint64_t run)
    : m_recorder(recorder), m_lock(lock), m_sink(sink), m_timer(timer), m_run(run) {}

SongPlayer::~SongPlayer() {
    m_stop.Request();
    Join();
}

void SongPlayer::Start() {
    m_thread = std::thread([this] { ThreadMain(); });
}

void SongPlayer::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

void SongPlayer::ThreadMain() {
    std::unique_lock lock(m_lock);
    if (!m_stop.Requested())
        m_recorder.ResetPosition();
    IPlaybackTimer::TimePoint due = m_timer.Now();
    while (!m_stop.Requested()) {
        const std::uint32_t i = m_recorder.GetPosition();
        const std::uint32_t n = m_recorder.GetCount();
        if (i >= n)
            break;
        const std::uint32_t msg = m_recorder.GetEventMsg();
        m_sink.SendMidiMsg(msg);
        const auto command = std::uint8_t(msg & 0xF0);
        const auto note = std::uint8_t((msg >> 8) & 0xFF);
        const auto velocity = std::uint8_t((msg >> 16) & 0xFF);
        if (command == 0x90 && velocity > 0)
            m_sink.ShowNoteOn(note, velocity);
        else
            m_sink.ShowNoteOff(note);
        m_sink.PostProgress(i);
        if (i + 1 < n) {
            due += std::chrono::milliseconds(m_recorder.GetDelay(i + 1));
            lock.unlock();
            m_timer.WaitUntil(due, m_stop);
            lock.lock();
        }
        // A stop while this thread waited for the lock may have come with a new song.
        if (m_stop.Requested())
            break;
        m_recorder.NextPosition();
    }
    m_sink.PostPlaybackDone(m_run);
    m_finished = true;
}

}  // namespace recorder
