#pragma once

#include <cstdint>
#include <vector>

#include "recorder/IMonotonicClock.h"
#include "recorder/NoteEvent.h"

namespace recorder {

// The one song in memory: the note-on and note-off messages recorded, each with the
// milliseconds since the one before it. Not synchronised: callers hold the performance lock.
class CNoteRecorder {
public:
    static constexpr std::uint32_t kMaxEvents = 0x3FFFFFFF;

    // `clock` must outlive the recorder. `maxEvents` is lowered only by tests that fill a song.
    explicit CNoteRecorder(const IMonotonicClock& clock, std::uint32_t maxEvents = kMaxEvents);

    // Appends the event for short message `msg`: its delay is the time since the previous
    // event (0 for the first one of a recording, i.e. at position 0), cut to 16 bits.
    // Advances the position; count = position.
    void AddEvent(std::uint32_t msg);
    // The same for a message that happened at `at` on the recorder's clock (stamped earlier
    // than now). A time before the previous event's counts as no delay.
    void AddEvent(std::uint32_t msg, IMonotonicClock::TimePoint at);

    // The decoded short message of the event at the position.
    std::uint32_t GetEventMsg() const;
    // Delay of event `i` in ms; `i` < count.
    std::uint16_t GetDelay(std::uint32_t i) const;

    std::uint32_t GetPosition() const { return m_position; }
    void ResetPosition() { m_position = 0; }
    void NextPosition() { ++m_position; }

    std::uint32_t GetCount() const { return m_count; }
    void SetCount(std::uint32_t n) { m_count = n; }
    std::uint32_t GetMaxEvents() const { return m_maxEvents; }

    // The contiguous event array, in playing order.
    NoteEvent* GetData() { return m_events.data(); }
    const NoteEvent* GetData() const { return m_events.data(); }

    // Empties the array and sets count to 0; the position stays.
    void Clear();
    // Makes the array hold `n` events (new ones are 0).
    void Resize(std::uint32_t n);
    // Takes over a whole song at once: the array becomes `events`, count its size.
    void Replace(std::vector<NoteEvent> events);

private:
    const IMonotonicClock& m_clock;
    IMonotonicClock::TimePoint m_previousTime{};
    IMonotonicClock::TimePoint m_currentTime{};
    std::vector<NoteEvent> m_events;
    std::uint32_t m_position = 0;
    const std::uint32_t m_maxEvents;
    std::uint32_t m_count = 0;
};

}  // namespace recorder
