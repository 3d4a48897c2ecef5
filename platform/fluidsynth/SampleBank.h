#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/music/DownloadTypes.h"

struct _fluid_sfont_t;
struct _fluid_preset_t;
struct _fluid_sample_t;
struct _fluid_synth_t;

namespace platform::fluidsynth {

// The downloaded waves and sample instruments of one synthesizer, offered to FluidSynth as
// an in-memory SoundFont: each instrument answers its patch (program in bits 0-7, bank MSB
// in bits 16-23, bit 31 the drum bank 128) and plays its wave for notes and velocities
// inside its region. Download and Unload run on the port's thread; FluidSynth calls the
// preset look-up and note-on on whatever thread drives the synth. One mutex guards the
// tables, and it is never held while calling into the synth (whose own lock is held around
// those callbacks).
class SampleBank {
public:
    SampleBank();
    ~SampleBank();
    SampleBank(const SampleBank&) = delete;
    SampleBank& operator=(const SampleBank&) = delete;

    // Creates the SoundFont object of `bank` and adds it to `synth` on top of the others;
    // the synth owns the SoundFont, which shares ownership of `bank`. False on failure.
    static bool AddTo(_fluid_synth_t* synth, const std::shared_ptr<SampleBank>& bank);

    // Takes the records of one filled download buffer (a wave or an instrument).
    music::HRESULT Download(const music::BYTE* bytes, music::DWORD size, _fluid_synth_t* synth);
    music::HRESULT Unload(const music::BYTE* bytes, music::DWORD size, _fluid_synth_t* synth);

    std::size_t WaveCount() const;
    std::size_t InstrumentCount() const;

private:
    struct SampleDeleter {
        void operator()(_fluid_sample_t* sample) const;
    };
    using SamplePtr = std::unique_ptr<_fluid_sample_t, SampleDeleter>;

    // One wave: one sample per channel (mono, or left and right).
    struct Wave {
        std::vector<SamplePtr> channels;
        unsigned frames = 0;
        std::set<unsigned> voiceIds;  // voices started on it that may still play
    };
    struct Instrument {
        int bank = 0;
        int program = 0;
        music::DMUS_REGION region;
        music::DMUS_ARTICPARAMS articulation;
        bool hasArticulation = false;
    };

    music::HRESULT DownloadWave(const music::BYTE* bytes, music::DWORD size,
                                const music::DMUS_DOWNLOADINFO& info);
    music::HRESULT DownloadInstrument(const music::BYTE* bytes, music::DWORD size,
                                      const music::DMUS_DOWNLOADINFO& info);
    // Frees retired waves that no playing voice uses any more.
    void Purge(_fluid_synth_t* synth);
    _fluid_preset_t* Preset(int bank, int program);
    int NoteOn(_fluid_synth_t* synth, int bank, int program, int channel, int key, int velocity);

    static _fluid_preset_t* GetPreset(_fluid_sfont_t* sfont, int bank, int program);
    static int FreeSoundFont(_fluid_sfont_t* sfont);
    static int PresetNoteOn(_fluid_preset_t* preset, _fluid_synth_t* synth, int channel, int key,
                            int velocity);

    mutable std::mutex mutex_;
    std::map<music::DWORD, std::shared_ptr<Wave>> waves_;
    std::map<music::DWORD, Instrument> instruments_;
    // Unloaded waves that voices may still be playing.
    std::vector<std::shared_ptr<Wave>> retired_;
    // Presets handed to FluidSynth, by bank * 128 + program; channels keep pointers to them,
    // so they live as long as the SoundFont.
    std::map<int, _fluid_preset_t*> presets_;
    _fluid_sfont_t* sfont_ = nullptr;  // owned by the synth; null before AddTo and after its free
};

}  // namespace platform::fluidsynth
