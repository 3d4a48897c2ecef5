#include "recorder/RecorderControl.h"

#include <algorithm>
#include <utility>

#include "recorder/CNoteRecorder.h"
#include "recorder/IRecorderView.h"
#include "recorder/SongPlayer.h"

namespace recorder {

namespace {
constexpr std::string_view kNothingToPlay = "没有录音可以播放！";
}  // namespace

RecorderControl::RecorderControl(CNoteRecorder& recorder, std::recursive_mutex& lock,
                                 IRecorderView& view, IPlaybackTimer& timer)
    : m_recorder(recorder), m_lock(lock), m_view(view), m_timer(timer) {}

RecorderControl::~RecorderControl() {
    Shutdown();
}

RecordState RecorderControl::State() const {
    std::lock_guard lock(m_lock);
    return m_state;
}

void RecorderControl::OnRecord() {
    std::lock_guard lock(m_lock);
    m_view.PostProgressRange(0, int(CNoteRecorder::kMaxEvents));
    m_recorder.Clear();
    m_recorder.ResetPosition();
    m_view.EnableRecordButton(false);
    m_view.EnablePlayButton(false);
    m_view.EnableStopButton(true);
    m_state = RecordState::Recording;
    m_view.TakeFocus();
}

void RecorderControl::OnPlay() {
    ReapFinishedPlayers();
    std::lock_guard lock(m_lock);
    // A second Play while a run goes on (a queued click) would start a second thread.
    if (m_state == RecordState::Playing)
        return;
    const std::uint32_t count = m_recorder.GetCount();
    if (count == 0) {
        m_view.ShowMessage(kNothingToPlay);
        return;
    }
    m_view.EnableRecordButton(false);
    m_view.EnablePlayButton(false);
    m_view.EnableNewItem(false);
    m_view.PostProgressRange(0, int(count - 1));
    m_state = RecordState::Playing;
    if (m_player)
        m_stoppedPlayers.push_back(std::move(m_player));
    IPlaybackSink& sink = *this;
    m_player = std::make_unique<SongPlayer>(m_recorder, m_lock, sink, m_timer, m_nextRun++);
    m_player->Start();
}

void RecorderControl::StopPerformance() {
    std::lock_guard lock(m_lock);
    if (m_player)
        m_player->RequestStop();
    m_view.AllNotesOff();
    m_view.EnableRecordButton(true);
    m_view.EnablePlayButton(true);
    m_view.EnableNewItem(true);
    m_view.TakeFocus();
    m_state = RecordState::Idle;
}

void RecorderControl::OnClosing() {
    std::lock_guard lock(m_lock);
    if (m_player)
        m_player->RequestStop();
}

void RecorderControl::Shutdown() {
    std::vector<std::unique_ptr<SongPlayer>> players = std::move(m_stoppedPlayers);
    m_stoppedPlayers.clear();
    if (m_player)
        players.push_back(std::move(m_player));
    // Each destructor requests the stop and joins; this thread must not hold the lock here.
    players.clear();
}

void RecorderControl::ReapFinishedPlayers() {
    std::erase_if(m_stoppedPlayers,
                  [](const std::unique_ptr<SongPlayer>& player) { return player->Finished(); });
}

void RecorderControl::RecordMessage(std::uint32_t msg) {
    Record(msg, std::nullopt);
}

void RecorderControl::RecordMessage(std::uint32_t msg,
                                    std::chrono::steady_clock::time_point arrival) {
    Record(msg, arrival);
}

void RecorderControl::Record(std::uint32_t msg,
                             std::optional<std::chrono::steady_clock::time_point> at) {
    std::lock_guard lock(m_lock);
    if (m_state != RecordState::Recording)
        return;
    if (m_recorder.GetPosition() < m_recorder.GetMaxEvents()) {
        if (at)
            m_recorder.AddEvent(msg, *at);
        else
            m_recorder.AddEvent(msg);
        m_view.PostProgressPos(m_recorder.GetPosition());
        return;
    }
    // The song is full: nothing more is recorded from here on, and the window goes idle as
    // Stop does once the GUI thread gets to it.
    m_state = RecordState::Idle;
    m_view.Post([this] { StopPerformance(); });
}

void RecorderControl::SendMidiMsg(std::uint32_t msg) {
    m_view.SendMidiMsg(msg);
}

void RecorderControl::ShowNoteOn(std::uint8_t note, std::uint8_t velocity) {
    m_view.PressKey(note);
    m_view.AddMessage(note, velocity, kSourcePlayback);
}

void RecorderControl::ShowNoteOff(std::uint8_t note) {
    m_view.ReleaseKey(note);
}

void RecorderControl::PostProgress(std::uint32_t position) {
    m_view.PostProgressPos(position);
}

void RecorderControl::PostPlaybackDone(std::uint64_t run) {
    m_view.Post([this, run] { OnPlaybackDone(run); });
}

void RecorderControl::OnPlaybackDone(std::uint64_t run) {
    std::lock_guard lock(m_lock);
    // Only the current run's end stops the window; a run stopped earlier ends on its own.
    if (!m_player || m_player->Run() != run)
        return;
    if (m_state == RecordState::Playing)
        StopPerformance();
}

}  // namespace recorder
