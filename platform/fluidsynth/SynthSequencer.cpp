#include "platform/fluidsynth/SynthSequencer.h"

#include <fluidsynth.h>

#include <memory>

#include "platform/fluidsynth/PatchMap.h"

namespace platform::fluidsynth {

SynthSequencer::SynthSequencer(fluid_synth_t* synth) : synth_(synth) {
    // 0: no system timer; the synth's rendering moves the sequencer's time.
    sequencer_ = new_fluid_sequencer2(0);
    if (sequencer_ == nullptr)
        return;
    synthId_ = fluid_sequencer_register_fluidsynth(sequencer_, synth);
    if (synthId_ != FLUID_FAILED)
        dispatchId_ = fluid_sequencer_register_client(sequencer_, "dispatch", &Dispatch, this);
    if (synthId_ == FLUID_FAILED || dispatchId_ == FLUID_FAILED) {
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

short SynthSequencer::AddSource(std::shared_ptr<PatchMap> patches) {
    if (sequencer_ == nullptr)
        return -1;
    const short id = fluid_sequencer_register_client(sequencer_, "segment", nullptr, nullptr);
    if (id == FLUID_FAILED)
        return -1;
    std::lock_guard lock(sourcesMutex_);
    sources_[id] = std::move(patches);
    return id;
}

void SynthSequencer::RemoveSource(short source) {
    if (sequencer_ == nullptr || source < 0)
        return;
    fluid_sequencer_unregister_client(sequencer_, source);
    std::lock_guard lock(sourcesMutex_);
    sources_.erase(source);
}

std::shared_ptr<PatchMap> SynthSequencer::PatchesOf(short source) {
    std::lock_guard lock(sourcesMutex_);
    const auto it = sources_.find(source);
    return it != sources_.end() ? it->second : nullptr;
}

void SynthSequencer::Dispatch(unsigned /*time*/, fluid_event_t* event,
                              fluid_sequencer_t* /*sequencer*/, void* self) {
    auto& me = *static_cast<SynthSequencer*>(self);
    fluid_synth_t* synth = me.synth_;
    const int channel = fluid_event_get_channel(event);
    switch (fluid_event_get_type(event)) {
        case FLUID_SEQ_NOTEON:
            fluid_synth_noteon(synth, channel, fluid_event_get_key(event),
                               fluid_event_get_velocity(event));
            break;
        case FLUID_SEQ_NOTEOFF:
            fluid_synth_noteoff(synth, channel, fluid_event_get_key(event));
            break;
        case FLUID_SEQ_KEYPRESSURE:
            fluid_synth_key_pressure(synth, channel, fluid_event_get_key(event),
                                     fluid_event_get_value(event));
            break;
        case FLUID_SEQ_CONTROLCHANGE: {
            const int control = fluid_event_get_control(event);
            const int value = fluid_event_get_value(event);
            if (control == 0) {
                if (const auto patches = me.PatchesOf(fluid_event_get_source(event)))
                    patches->BankSelect(channel, value);
            }
            fluid_synth_cc(synth, channel, control, value);
            break;
        }
        case FLUID_SEQ_PROGRAMCHANGE: {
            const int program = fluid_event_get_program(event);
            const auto patches = me.PatchesOf(fluid_event_get_source(event));
            if (!patches || !patches->ProgramChange(synth, channel, program))
                fluid_synth_program_change(synth, channel, program);
            break;
        }
        case FLUID_SEQ_CHANNELPRESSURE:
            fluid_synth_channel_pressure(synth, channel, fluid_event_get_value(event));
            break;
        case FLUID_SEQ_PITCHBEND:
            fluid_synth_pitch_bend(synth, channel, fluid_event_get_pitch(event));
            break;
        default:
            break;  // the sequencer's own notices (a client unregistering)
    }
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
    fluid_event_set_dest(event.get(), dispatchId_);
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
        fluid_sequencer_remove_events(sequencer_, source, dispatchId_, -1);
}

}  // namespace platform::fluidsynth
