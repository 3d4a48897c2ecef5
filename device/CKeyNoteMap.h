#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/IKeyNoteSink.h"
#include "device/KeyEvent.h"

namespace device {

// Turns key-bed presses into notes: one slot per pitch class holds the note its key is
// sounding, so a release ends exactly the note that was started, whatever the piano's first
// note is by then. GUI thread only.
class CKeyNoteMap {
public:
    static constexpr int kPitchClasses = 12;
    static constexpr std::int32_t kFree = -1;
    static constexpr BYTE kVelocity = 127;
    static constexpr int kSourceKeyBed = 4;

    CKeyNoteMap() { slots_.fill(kFree); }
    virtual ~CKeyNoteMap() = default;

    // The dialog that receives the notes; not owned. Without one, keys are ignored.
    void SetSink(IKeyNoteSink* sink) { sink_ = sink; }

    // key 0-48; pressed 1 or 0.
    void HandleKey(BYTE key, BOOL pressed);
    // pitchClass 0-11; pressed 1 plays, 0 releases, other values do nothing.
    void HandlePitchClass(int pitchClass, BOOL pressed);
    // A batch of events, in order, as posted by the key-bed thread (one row's at a time).
    void HandleKeyEvents(std::span<const KeyEvent> events);

    std::int32_t Slot(int pitchClass) const {
        return slots_.at(static_cast<std::size_t>(pitchClass));
    }
    std::int32_t Octave() const { return octave_; }

private:
    IKeyNoteSink* sink_ = nullptr;
    std::array<std::int32_t, kPitchClasses> slots_{};
    std::int32_t octave_ = 0;
};

}  // namespace device
