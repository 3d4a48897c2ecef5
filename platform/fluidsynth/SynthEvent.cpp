#include "platform/fluidsynth/SynthEvent.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/fluidsynth/PatchMap.h"

namespace platform::fluidsynth {

using music::BYTE;
using music::DWORD;

void PlaySynthEvent(fluid_synth_t* synth, PatchMap* patches, DWORD channelGroups,
                    DWORD channelGroup, const BYTE* bytes, DWORD length) {
    if (bytes == nullptr || length == 0)
        return;
    const BYTE status = bytes[0];
    if (status == 0xF0) {
        // FluidSynth wants the message without its F0 and F7 framing bytes.
        DWORD inner = length - 1;
        if (inner > 0 && bytes[length - 1] == 0xF7)
            --inner;
        if (inner > 0)
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(bytes + 1),
                              static_cast<int>(inner), nullptr, nullptr, nullptr, 0);
        return;
    }
    if (status < 0x80 || status >= 0xF0)
        return;  // running status and system common/real-time messages are not played
    const DWORD group = std::max<DWORD>(channelGroup, 1);
    if (group > channelGroups)
        return;
    const int channel = static_cast<int>(group - 1) * 16 + (status & 0x0F);
    // A byte with its top bit set is a status, never data: such an event is incomplete.
    const int data1 = length > 1 && bytes[1] < 0x80 ? bytes[1] : -1;
    const int data2 = data1 >= 0 && length > 2 && bytes[2] < 0x80 ? bytes[2] : -1;
    const bool twoDataBytes = data2 >= 0;

    // Results are not checked: a note-off for a note that no longer sounds is no failure.
    switch (status & 0xF0) {
        case 0x80:
            if (twoDataBytes)
                fluid_synth_noteoff(synth, channel, data1);
            break;
        case 0x90:
            if (twoDataBytes)
                fluid_synth_noteon(synth, channel, data1, data2);  // velocity 0 is a note-off
            break;
        case 0xA0:
            if (twoDataBytes)
                fluid_synth_key_pressure(synth, channel, data1, data2);
            break;
        case 0xB0:
            if (twoDataBytes && data1 == 0 && patches != nullptr)
                patches->BankSelect(channel, data2);
            if (twoDataBytes)
                fluid_synth_cc(synth, channel, data1, data2);  // 120 and 123 included
            break;
        case 0xC0:
            if (data1 >= 0 &&
                (patches == nullptr || !patches->ProgramChange(synth, channel, data1)))
                fluid_synth_program_change(synth, channel, data1);
            break;
        case 0xD0:
            if (data1 >= 0)
                fluid_synth_channel_pressure(synth, channel, data1);
            break;
        case 0xE0:
            if (twoDataBytes)
                fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
            break;
        default:
            break;
    }
}

}  // namespace platform::fluidsynth
