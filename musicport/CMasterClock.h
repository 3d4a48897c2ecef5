#pragma once

#include <array>
#include <memory>

#include "musicport/CDirectMusic.h"
#include "musicport/MidiMsg.h"
#include "platform/music/ClockTypes.h"

namespace musicport {

// One master clock as the music object lists it. Value-initialise it for an all-zero record.
struct ClockInfo {
    DWORD ctType = 0;  // DMUS_CLOCK_SYSTEM or DMUS_CLOCK_WAVE
    GUID guidClock;
    // UTF-8, NUL-terminated, at most 127 bytes, cut on a character boundary.
    std::array<char, 128> szClockDescription{};
    DWORD dwFlags = 0;
};

// Lists the music object's master clocks and makes one of them the master. Failures
// throw CDMusicException. One thread at a time.
class CMasterClock {
public:
    CMasterClock() = default;
    ~CMasterClock() { ReleaseMasterClock(); }
    CMasterClock(const CMasterClock&) = delete;
    CMasterClock& operator=(const CMasterClock&) = delete;

    // Borrows the music object of `music` (which must outlive this object). Returns 0.
    int Initialize(CDirectMusic& music);
    // Number of clocks listed now.
    DWORD GetNumClocks();
    // Fills `info` for the clockNumber-th clock (1-based): S_OK, or S_FALSE with `info`
    // untouched when there is no such clock.
    HRESULT GetClockInfo(DWORD clockNumber, ClockInfo* info);
    // Makes the clock of `info` the master clock and obtains it. Returns 0.
    int ActivateMasterClock(ClockInfo* info);
    // The obtained clock, null before ActivateMasterClock or after ReleaseMasterClock.
    platform::music::IReferenceClock* GetReferenceClock() const { return m_clock.get(); }
    void ReleaseMasterClock() { m_clock.reset(); }

private:
    std::shared_ptr<platform::music::IReferenceClock> m_clock;
    platform::music::IMusic* m_music = nullptr;  // borrowed from CDirectMusic
};

}  // namespace musicport
