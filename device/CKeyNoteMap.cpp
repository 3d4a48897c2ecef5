#include "device/CKeyNoteMap.h"

namespace device {

void CKeyNoteMap::HandleKey(BYTE key, BOOL pressed) {
    if (sink_ == nullptr) {
        return;
    }
    octave_ = key / kPitchClasses;
    HandlePitchClass(key % kPitchClasses, pressed);
    sink_->TakeFocus();
}

void CKeyNoteMap::HandlePitchClass(int pitchClass, BOOL pressed) {
    if (sink_ == nullptr || pitchClass < 0 || pitchClass >= kPitchClasses) {
        return;
    }
    std::int32_t& slot = slots_[static_cast<std::size_t>(pitchClass)];
    if (pressed == 1) {
        if (slot != kFree) {
            return;  // the same pitch class an octave away is sounding
        }
        const auto note =
            static_cast<BYTE>((octave_ * kPitchClasses + sink_->FirstNote() + pitchClass) & 0xFF);
        sink_->PressKey(note);
        sink_->PlayNote(note, 1);
        sink_->AddMessage(note, kVelocity, kSourceKeyBed);
        slot = note;
    } else if (pressed == 0) {
        if (slot == kFree) {
            return;
        }
        const auto note = static_cast<BYTE>(slot);
        sink_->ReleaseKey(note);
        sink_->PlayNote(note, 0);
        slot = kFree;
    }
}

void CKeyNoteMap::HandleKeyEvents(std::span<const KeyEvent> events) {
    for (const KeyEvent& event : events) {
        HandleKey(event.key, event.pressed ? 1 : 0);
    }
}

}  // namespace device
