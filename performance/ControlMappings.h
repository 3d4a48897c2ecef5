#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The numbers behind the volume, pitch and note-range controls.
namespace performance {

// Key names of the transpose base, indexed by base mod 12.
constexpr std::array<std::string_view, 12> kKeyNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                     "F#", "G",  "G#", "A",  "A#", "B"};

// Entries of the note-range selector; entry n puts note 12 × n on the leftmost key.
constexpr std::array<std::string_view, 7> kNoteRangeTexts{
    "Octave #-1  ---> Octave #3", "Octave # 0  ---> Octave #4", "Octave # 1  ---> Octave #5",
    "Octave # 2  ---> Octave #6", "Octave # 3  ---> Octave #7", "Octave # 4  ---> Octave #8",
    "Octave # 5  ---> Octave #9"};
constexpr int kStartupNoteRange = 3;

constexpr int kStartupTransposeBase = 36;
constexpr int kLowestTransposeBase = 24;
constexpr int kHighestTransposeBase = 48;

// The volume slider runs from 0 (top, full volume) to 10 (bottom, silent).
constexpr int kVolumeSteps = 10;

constexpr std::string_view KeyName(int transposeBase) {
    return kKeyNames[std::size_t(((transposeBase % 12) + 12) % 12)];
}

constexpr int FirstNoteOfRange(int entry) {
    return entry * 12;
}

// The transpose base after the pitch slider was let go at `position` (-1 pushed up, +1
// pulled down): one semitone per release, kept within 24 … 48.
constexpr int NextTransposeBase(int base, int position) {
    if (position < 0 && base < kHighestTransposeBase)
        return base + 1;
    if (position > 0 && base > kLowestTransposeBase)
        return base - 1;
    return base;
}

// The value written for a slider position: maximum × (10 − position) ÷ 10, truncated.
// Computed in 64 bits so that a control with a very large range cannot wrap around.
constexpr std::uint32_t SliderPositionToVolume(std::uint32_t maximum, int position) {
    return std::uint32_t(std::uint64_t(maximum) * std::uint64_t(kVolumeSteps - position) /
                         kVolumeSteps);
}

// The slider position for a value read from the mixer: (maximum − value) ÷ maximum × 10,
// truncated toward zero, within the slider's range. A control without range reads as full.
constexpr int VolumeToSliderPosition(std::uint32_t maximum, std::uint32_t value) {
    if (maximum == 0)
        return 0;
    const double position = (double(maximum) - double(value)) / double(maximum) * kVolumeSteps;
    const int truncated = int(position);
    return truncated < 0 ? 0 : (truncated > kVolumeSteps ? kVolumeSteps : truncated);
}

}  // namespace performance
