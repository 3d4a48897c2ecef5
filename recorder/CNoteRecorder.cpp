#include "recorder/CNoteRecorder.h"

#include <utility>

namespace recorder {

CNoteRecorder::CNoteRecorder(const IMonotonicClock& clock, std::uint32_t maxEvents)
    : m_clock(clock), m_maxEvents(maxEvents) {}

void CNoteRecorder::AddEvent(std::uint32_t msg) {
    AddEvent(msg, m_clock.Now());
}

void CNoteRecorder::AddEvent(std::uint32_t msg, IMonotonicClock::TimePoint at) {
    // Sources stamp at different points (an input note waits for the GUI thread): an event
    // stamped before the one recorded last follows it with no delay.
    m_currentTime = m_position > 0 && at < m_previousTime ? m_previousTime : at;
    if (m_position == 0)
        m_previousTime = m_currentTime;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_currentTime - m_previousTime);
    // A pause longer than 65,535 ms is kept modulo 65,536 ms, as the event has 16 bits for it.
    const auto delay = std::uint32_t(std::uint64_t(elapsed.count()));
    // Appending past `count` (after SetCount lowered it) overwrites rather than grows.
    m_events.resize(m_position);
    m_events.push_back(MakeNoteEvent(EncodeNoteCode(msg), delay));
    ++m_position;
    m_count = m_position;
    m_previousTime = m_currentTime;
}

std::uint32_t CNoteRecorder::GetEventMsg() const {
    return DecodeNoteCode(NoteCodeOf(m_events.at(m_position)));
}

std::uint16_t CNoteRecorder::GetDelay(std::uint32_t i) const {
    return DelayOf(m_events.at(i));
}

void CNoteRecorder::Clear() {
    m_events.clear();
    m_count = 0;
}

void CNoteRecorder::Resize(std::uint32_t n) {
    m_events.resize(n);
}

void CNoteRecorder::Replace(std::vector<NoteEvent> events) {
    m_events = std::move(events);
    m_count = std::uint32_t(m_events.size());
}

}  // namespace recorder
