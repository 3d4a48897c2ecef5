#include "platform/fluidsynth/SynthSequencer.h"

#include <fluidsynth.h>

#include <memory>

namespace platform::fluidsynth {

SynthSequencer::SynthSequencer(fluid_synth_t* synth) {
    // 0: no system timer; the synth's rendering moves the sequencer's time.
    sequencer_ = new_fluid_sequencer2(0);
    if (sequencer_ == nullptr)
        return;
    synthId_ = fluid_sequencer_register_fluidsynth(sequencer_, synth);
    if (synthId_ == FLUID_FAILED) {
        delete_fluid_sequencer(sequencer_);
        sequencer_ = nullptr;
    }
}

SynthSequencer::~SynthSequencer() {
    if (sequencer_ != nullptr)
        delete_fluid_sequencer(sequencer_);
}

unsigned SynthSequencer::NowMs() const {
    return sequencer_ != nullptr ? fluid_sequencer_get_tick(sequencer_) : 0;
}

short SynthSequencer::AddSource() {
    if (sequencer_ == nullptr)
        return -1;
    const short id = fluid_sequencer_register_client(sequencer_, "segment", nullptr, nullptr);
    return id == FLUID_FAILED ? short{-1} : id;
}

void SynthSequencer::RemoveSource(short source) {
    if (sequencer_ != nullptr && source >= 0)
        fluid_sequencer_unregister_client(sequencer_, source);
}

void SynthSequencer::Schedule(short source, unsigned atMs, const music::BYTE* bytes,
                              music::DWORD length, int channelBase) {
    if (sequencer_ == nullptr || length == 0 || bytes[0] < 0x80 || bytes[0] >= 0xF0)
        return;
    std::unique_ptr<fluid_event_t, decltype(&delete_fluid_event)> event(new_fluid_event(),
                                                                        &delete_fluid_event);
    if (!event)
        return;
    fluid_event_set_source(event.get(), source);
    fluid_event_set_dest(event.get(), synthId_);
    const int channel = channelBase + (bytes[0] & 0x0F);
    const int data1 = length > 1 ? bytes[1] & 0x7F : 0;
    const int data2 = length > 2 ? bytes[2] & 0x7F : 0;
    switch (bytes[0] & 0xF0) {
        case 0x80:
            fluid_event_noteoff(event.get(), channel, static_cast<short>(data1));
            break;
        case 0x90:
            if (data2 == 0)
                fluid_event_noteoff(event.get(), channel, static_cast<short>(data1));
            else
                fluid_event_noteon(event.get(), channel, static_cast<short>(data1),
                                   static_cast<short>(data2));
            break;
        case 0xA0:
            fluid_event_key_pressure(event.get(), channel, static_cast<short>(data1), data2);
            break;
        case 0xB0:
            fluid_event_control_change(event.get(), channel, static_cast<short>(data1), data2);
            break;
        case 0xC0:
            fluid_event_program_change(event.get(), channel, data1);
            break;
        case 0xD0:
            fluid_event_channel_pressure(event.get(), channel, data1);
            break;
        case 0xE0:
            fluid_event_pitch_bend(event.get(), channel, data1 | data2 << 7);
            break;
        default:
            return;
    }
    fluid_sequencer_send_at(sequencer_, event.get(), atMs, 1);
}

void SynthSequencer::CancelPending(short source) {
    if (sequencer_ != nullptr)
        fluid_sequencer_remove_events(sequencer_, source, synthId_, -1);
}

}  // namespace platform::fluidsynth
