#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/music/Types.h"

struct _fluid_event_t;
struct _fluid_sequencer_t;
struct _fluid_synth_t;

namespace platform::fluidsynth {

class PatchMap;

// A FluidSynth sequencer bound to one synth and driven by its rendering: its time is the
// synth's audio time in milliseconds since the sequencer was made, advancing only as
// samples are rendered (by an audio driver or offline). Events scheduled at a time play
// when rendering reaches it. Thread-safe (FluidSynth's sequencer queue is locked).
// Must be destroyed before the synth.
class SynthSequencer {
public:
    explicit SynthSequencer(_fluid_synth_t* synth);
    ~SynthSequencer();
    SynthSequencer(const SynthSequencer&) = delete;
    SynthSequencer& operator=(const SynthSequencer&) = delete;

    bool Valid() const { return sequencer_ != nullptr; }
    // Audio time in milliseconds.
    unsigned NowMs() const;
    // A sender of events, so that one sender's pending events can be dropped alone; -1 when
    // none can be made. Its bank selects and program changes go through `patches` (may be
    // null), so that instruments downloaded to the port answer their patches. Release it
    // with RemoveSource; events it scheduled still play, without the patches.
    short AddSource(std::shared_ptr<PatchMap> patches = nullptr);
    void RemoveSource(short source);
    // Plays one channel message (status, data bytes) from `source` on MIDI channel
    // `channelBase` + the status's channel at `atMs`. Times in the past play at the next
    // rendered block. System messages are not played.
    void Schedule(short source, unsigned atMs, const music::BYTE* bytes, music::DWORD length,
                  int channelBase);
    // Drops every event of `source` still waiting.
    void CancelPending(short source);

private:
    // Every scheduled event comes back here when its time is reached and is played on the
    // synth (on the rendering thread).
    static void Dispatch(unsigned time, _fluid_event_t* event, _fluid_sequencer_t* sequencer,
                         void* self);
    std::shared_ptr<PatchMap> PatchesOf(short source);

    _fluid_synth_t* synth_ = nullptr;
    _fluid_sequencer_t* sequencer_ = nullptr;
    short synthId_ = -1;
    short dispatchId_ = -1;
    std::mutex sourcesMutex_;
    std::map<short, std::shared_ptr<PatchMap>> sources_;
};

}  // namespace platform::fluidsynth
