#include "platform/fluidsynth/SampleBank.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::BYTE;
using music::DWORD;
using music::HRESULT;
namespace layout = music::download_layout;

namespace {

// What a preset's data points at: the bank and the patch it answers.
struct PresetTag {
    SampleBank* bank;
    int bankNumber;
    int program;
};

template <typename T>
bool Get(const BYTE* bytes, DWORD size, DWORD offset, T& value) {
    if (offset > size || sizeof(T) > size - offset)
        return false;
    std::memcpy(&value, bytes + offset, sizeof(T));
    return true;
}

// Offset-table entry `index`, which must point inside the buffer.
bool Entry(const BYTE* bytes, DWORD size, const music::DMUS_DOWNLOADINFO& info, DWORD index,
           DWORD& offset) {
    if (index >= info.dwNumOffsetTableEntries)
        return false;
    return Get(bytes, size, sizeof info + 4 * index, offset) && offset < size;
}

// The record that offset-table entry `index` points at.
template <typename T>
bool RecordAt(const BYTE* bytes, DWORD size, const music::DMUS_DOWNLOADINFO& info, DWORD index,
              T& value, DWORD* offset = nullptr) {
    DWORD at = 0;
    if (!Entry(bytes, size, info, index, at) || !Get(bytes, size, at, value))
        return false;
    if (offset != nullptr)
        *offset = at;
    return true;
}

int BankOf(DWORD patch) {
    // Drum kits sit in FluidSynth's percussion bank; melodic banks follow the bank MSB as
    // FluidSynth's default (GS) bank selection does.
    return (patch & 0x80000000u) != 0 ? 128 : static_cast<int>((patch >> 16) & 0x7F);
}

// DLS values scaled by 65536 into the generator units FluidSynth takes.
float TimeCentsGen(music::LONG value) {
    return static_cast<float>(std::clamp(value / 65536.0, -12000.0, 8000.0));
}
float SustainGen(music::LONG ptSustain) {
    // Percent units (tenths of a percent) of full level into centibels of attenuation.
    const double level = ptSustain / 65536.0 / 1000.0;
    if (level >= 1.0)
        return 0.0f;
    if (level <= 0.0)
        return 1440.0f;
    return static_cast<float>(std::min(1440.0, -200.0 * std::log10(level)));
}
float AttenuationGen(music::LONG gain) {
    return static_cast<float>(std::clamp(-gain / 65536.0, 0.0, 1440.0));
}

}  // namespace

void SampleBank::SampleDeleter::operator()(fluid_sample_t* sample) const {
    delete_fluid_sample(sample);
}

SampleBank::SampleBank() = default;

SampleBank::~SampleBank() {
    for (auto& [key, preset] : presets_) {
        delete static_cast<PresetTag*>(fluid_preset_get_data(preset));
        delete_fluid_preset(preset);
    }
}

bool SampleBank::AddTo(fluid_synth_t* synth, const std::shared_ptr<SampleBank>& bank) {
    fluid_sfont_t* sfont =
        new_fluid_sfont([](fluid_sfont_t*) { return "Tunestead samples"; }, &SampleBank::GetPreset,
                        nullptr, nullptr, &SampleBank::FreeSoundFont);
    if (sfont == nullptr)
        return false;
    fluid_sfont_set_data(sfont, new std::shared_ptr<SampleBank>(bank));
    {
        std::lock_guard lock(bank->mutex_);
        bank->sfont_ = sfont;
    }
    if (fluid_synth_add_sfont(synth, sfont) == FLUID_FAILED) {
        FreeSoundFont(sfont);
        return false;
    }
    return true;
}

int SampleBank::FreeSoundFont(fluid_sfont_t* sfont) {
    // The synth calls this once no voice plays any of its samples.
    auto* bank = static_cast<std::shared_ptr<SampleBank>*>(fluid_sfont_get_data(sfont));
    {
        std::lock_guard lock((*bank)->mutex_);
        (*bank)->sfont_ = nullptr;
    }
    delete static_cast<std::shared_ptr<SampleBank>*>(fluid_sfont_get_data(sfont));
    delete_fluid_sfont(sfont);
    return 0;
}

fluid_preset_t* SampleBank::GetPreset(fluid_sfont_t* sfont, int bank, int program) {
    auto& self = **static_cast<std::shared_ptr<SampleBank>*>(fluid_sfont_get_data(sfont));
    return self.Preset(bank, program);
}

fluid_preset_t* SampleBank::Preset(int bank, int program) {
    std::lock_guard lock(mutex_);
    const bool answers = std::any_of(instruments_.begin(), instruments_.end(), [&](const auto& i) {
        return i.second.bank == bank && i.second.program == program;
    });
    if (!answers)
        return nullptr;  // the SoundFonts below answer
    const auto it = presets_.find(bank * 128 + program);
    return it != presets_.end() ? it->second : nullptr;
}

int SampleBank::PresetNoteOn(fluid_preset_t* preset, fluid_synth_t* synth, int channel, int key,
                             int velocity) {
    const auto* tag = static_cast<const PresetTag*>(fluid_preset_get_data(preset));
    return tag->bank->NoteOn(synth, tag->bankNumber, tag->program, channel, key, velocity);
}

int SampleBank::NoteOn(fluid_synth_t* synth, int bank, int program, int channel, int key,
                       int velocity) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, instrument] : instruments_) {
        const music::DMUS_REGION& r = instrument.region;
        if (instrument.bank != bank || instrument.program != program || key < r.RangeKey.usLow ||
            key > r.RangeKey.usHigh || velocity < r.RangeVelocity.usLow ||
            velocity > r.RangeVelocity.usHigh)
            continue;
        const auto wave = waves_.find(r.WaveLink.ulTableIndex);
        if (wave == waves_.end())
            continue;  // its wave has been unloaded: the instrument is silent
        const bool stereo = wave->second->channels.size() == 2;
        for (std::size_t c = 0; c < wave->second->channels.size(); ++c) {
            fluid_voice_t* voice = fluid_synth_alloc_voice(synth, wave->second->channels[c].get(),
                                                           channel, key, velocity);
            if (voice == nullptr)
                return FLUID_FAILED;
            const bool looped = r.WSMP.cSampleLoops > 0;
            fluid_voice_gen_set(voice, GEN_SAMPLEMODE, looped ? 1.0f : 0.0f);
            if (looped) {
                // The sample's own loop is the whole wave; the region's loop narrows it.
                const auto frames = static_cast<double>(wave->second->frames);
                const double start = std::min<double>(r.Loops[0].ulStart, frames);
                const double end = std::min(start + r.Loops[0].ulLength, frames);
                fluid_voice_gen_set(voice, GEN_STARTLOOPADDROFS, static_cast<float>(start));
                fluid_voice_gen_set(voice, GEN_ENDLOOPADDROFS, static_cast<float>(end - frames));
            }
            fluid_voice_gen_set(voice, GEN_OVERRIDEROOTKEY, r.WSMP.usUnityNote & 0x7F);
            fluid_voice_gen_set(voice, GEN_FINETUNE, r.WSMP.sFineTune);
            fluid_voice_gen_set(voice, GEN_ATTENUATION, AttenuationGen(r.WSMP.lAttenuation));
            const music::DMUS_VEGPARAMS& eg = instrument.articulation.VolEG;
            fluid_voice_gen_set(voice, GEN_VOLENVATTACK, TimeCentsGen(eg.tcAttack));
            fluid_voice_gen_set(voice, GEN_VOLENVDECAY, TimeCentsGen(eg.tcDecay));
            fluid_voice_gen_set(voice, GEN_VOLENVSUSTAIN, SustainGen(eg.ptSustain));
            fluid_voice_gen_set(voice, GEN_VOLENVRELEASE, TimeCentsGen(eg.tcRelease));
            const float pan =
                stereo ? (c == 0 ? -500.0f : 500.0f)
                       : static_cast<float>(std::clamp(
                             instrument.articulation.Misc.ptDefaultPan / 65536.0, -500.0, 500.0));
            fluid_voice_gen_set(voice, GEN_PAN, pan);
            fluid_synth_start_voice(synth, voice);
            wave->second->voiceIds.insert(fluid_voice_get_id(voice));
        }
    }
    return FLUID_OK;
}

HRESULT SampleBank::Download(const BYTE* bytes, DWORD size, fluid_synth_t* synth) {
    music::DMUS_DOWNLOADINFO info;
    if (!Get(bytes, size, 0, info) || info.cbSize > size)
        return music::DMUS_E_BADOFFSETTABLE;
    size = info.cbSize;
    HRESULT hr = music::DMUS_E_UNKNOWNDOWNLOAD;
    if (info.dwDLType == music::DMUS_DOWNLOADINFO_WAVE)
        hr = DownloadWave(bytes, size, info);
    else if (info.dwDLType == music::DMUS_DOWNLOADINFO_INSTRUMENT)
        hr = DownloadInstrument(bytes, size, info);
    if (music::Succeeded(hr) && info.dwDLType == music::DMUS_DOWNLOADINFO_INSTRUMENT)
        fluid_synth_program_reset(synth);  // channels on the patch now find the instrument
    Purge(synth);
    return hr;
}

HRESULT SampleBank::DownloadWave(const BYTE* bytes, DWORD size,
                                 const music::DMUS_DOWNLOADINFO& info) {
    DWORD waveOffset = 0;
    music::DMUS_WAVE_HEADER header;
    if (!RecordAt(bytes, size, info, 0, header, &waveOffset))
        return music::DMUS_E_BADOFFSETTABLE;
    const DWORD f = waveOffset + sizeof header;
    music::WAVEFORMATEX format;
    if (!Get(bytes, size, f + 0, format.wFormatTag) || !Get(bytes, size, f + 2, format.nChannels) ||
        !Get(bytes, size, f + 4, format.nSamplesPerSec) ||
        !Get(bytes, size, f + 12, format.nBlockAlign) ||
        !Get(bytes, size, f + 14, format.wBitsPerSample))
        return music::DMUS_E_BADWAVE;
    DWORD dataOffset = 0;
    DWORD dataBytes = 0;
    if (!RecordAt(bytes, size, info, header.ulWaveDataIdx, dataBytes, &dataOffset))
        return music::DMUS_E_BADOFFSETTABLE;
    if (format.wFormatTag != music::WAVE_FORMAT_PCM)
        return music::DMUS_E_NOTPCM;
    const unsigned width = format.wBitsPerSample / 8u;
    if (format.nChannels == 0 || format.nChannels > 2 || format.nSamplesPerSec == 0 ||
        format.wBitsPerSample % 8 != 0 || width == 0 || width > 4 ||
        format.nBlockAlign != format.nChannels * width)
        return music::DMUS_E_WAVEFORMATNOTSUPPORTED;
    // The byte count must lie inside the buffer; whole frames only.
    if (dataBytes > size - dataOffset - 4)
        return music::DMUS_E_BADWAVE;
    const unsigned frames = dataBytes / format.nBlockAlign;
    if (frames == 0)
        return music::DMUS_E_BADWAVE;
    const BYTE* pcm = bytes + dataOffset + 4;

    auto wave = std::make_shared<Wave>();
    wave->frames = frames;
    std::vector<short> high(frames);
    std::vector<char> low(width >= 3 ? frames : 0);
    for (unsigned c = 0; c < format.nChannels; ++c) {
        for (unsigned i = 0; i < frames; ++i) {
            const BYTE* s = pcm + std::size_t{i} * format.nBlockAlign + c * width;
            if (width == 1) {
                high[i] = static_cast<short>((s[0] - 128) * 256);  // 8-bit PCM is unsigned
            } else {
                // The top two bytes are the 16-bit sample; a third byte below them refines
                // it to 24 bits; a fourth one further down is dropped.
                high[i] = static_cast<short>(s[width - 2] | s[width - 1] << 8);
                if (width >= 3)
                    low[i] = static_cast<char>(s[width - 3]);
            }
        }
        SamplePtr sample(new_fluid_sample());
        if (!sample ||
            fluid_sample_set_sound_data(sample.get(), high.data(),
                                        low.empty() ? nullptr : low.data(), frames,
                                        format.nSamplesPerSec, 1) != FLUID_OK ||
            fluid_sample_set_loop(sample.get(), 0, frames) != FLUID_OK)
            return music::E_OUTOFMEMORY;
        wave->channels.push_back(std::move(sample));
    }
    // fluid_sample_set_sound_data marks samples mono; a pair plays as two panned voices.
    std::lock_guard lock(mutex_);
    if (waves_.count(info.dwDLId) != 0 || instruments_.count(info.dwDLId) != 0)
        return music::DMUS_E_ALREADY_DOWNLOADED;
    waves_[info.dwDLId] = std::move(wave);
    return music::S_OK;
}

HRESULT SampleBank::DownloadInstrument(const BYTE* bytes, DWORD size,
                                       const music::DMUS_DOWNLOADINFO& info) {
    music::DMUS_INSTRUMENT record;
    if (!RecordAt(bytes, size, info, 0, record))
        return music::DMUS_E_BADOFFSETTABLE;
    Instrument instrument;
    instrument.bank = BankOf(record.ulPatch);
    instrument.program = static_cast<int>(record.ulPatch & 0x7F);
    if (record.ulFirstRegionIdx == 0 ||
        !RecordAt(bytes, size, info, record.ulFirstRegionIdx, instrument.region))
        return music::DMUS_E_BADINSTRUMENT;
    if (record.ulGlobalArtIdx != 0) {
        music::DMUS_ARTICULATION art;
        if (!RecordAt(bytes, size, info, record.ulGlobalArtIdx, art) ||
            !RecordAt(bytes, size, info, art.ulArt1Idx, instrument.articulation))
            return music::DMUS_E_BADARTICULATION;
        instrument.hasArticulation = true;
    }
    std::lock_guard lock(mutex_);
    if (waves_.count(instrument.region.WaveLink.ulTableIndex) == 0)
        return music::DMUS_E_BADWAVELINK;
    if (waves_.count(info.dwDLId) != 0 || instruments_.count(info.dwDLId) != 0)
        return music::DMUS_E_ALREADY_DOWNLOADED;
    const int key = instrument.bank * 128 + instrument.program;
    if (sfont_ == nullptr)
        return music::DMUS_E_SYNTHNOTCONFIGURED;
    if (presets_.count(key) == 0) {
        fluid_preset_t* preset = new_fluid_preset(
            sfont_, [](fluid_preset_t*) { return "Tunestead sample"; },
            [](fluid_preset_t* p) {
                return static_cast<PresetTag*>(fluid_preset_get_data(p))->bankNumber;
            },
            [](fluid_preset_t* p) {
                return static_cast<PresetTag*>(fluid_preset_get_data(p))->program;
            },
            &SampleBank::PresetNoteOn,
            [](fluid_preset_t*) {});  // presets are freed with the bank, never by the synth
        if (preset == nullptr)
            return music::E_OUTOFMEMORY;
        fluid_preset_set_data(preset, new PresetTag{this, instrument.bank, instrument.program});
        presets_[key] = preset;
    }
    instruments_[info.dwDLId] = instrument;
    return music::S_OK;
}

HRESULT SampleBank::Unload(const BYTE* bytes, DWORD size, fluid_synth_t* synth) {
    music::DMUS_DOWNLOADINFO info;
    if (!Get(bytes, size, 0, info))
        return music::DMUS_E_BADOFFSETTABLE;
    {
        std::lock_guard lock(mutex_);
        if (info.dwDLType == music::DMUS_DOWNLOADINFO_WAVE) {
            const auto it = waves_.find(info.dwDLId);
            if (it == waves_.end())
                return music::DMUS_E_NOT_DOWNLOADED_TO_PORT;
            retired_.push_back(std::move(it->second));
            waves_.erase(it);
        } else if (info.dwDLType == music::DMUS_DOWNLOADINFO_INSTRUMENT) {
            if (instruments_.erase(info.dwDLId) == 0)
                return music::DMUS_E_NOT_DOWNLOADED_TO_PORT;
        } else {
            return music::DMUS_E_UNKNOWNDOWNLOAD;
        }
    }
    if (info.dwDLType == music::DMUS_DOWNLOADINFO_INSTRUMENT)
        fluid_synth_program_reset(synth);  // channels on the patch fall back to the SoundFonts
    Purge(synth);
    return music::S_OK;
}

void SampleBank::Purge(fluid_synth_t* synth) {
    {
        std::lock_guard lock(mutex_);
        if (retired_.empty())
            return;
    }
    // Ids of the voices that still play; taken without our lock (the synth's is taken).
    std::vector<fluid_voice_t*> voices(
        static_cast<std::size_t>(std::max(1, fluid_synth_get_polyphony(synth))));
    fluid_synth_get_voicelist(synth, voices.data(), static_cast<int>(voices.size()), -1);
    std::set<unsigned> playing;
    for (fluid_voice_t* voice : voices) {
        if (voice == nullptr)
            break;
        playing.insert(fluid_voice_get_id(voice));
    }
    std::lock_guard lock(mutex_);
    std::erase_if(retired_, [&](const std::shared_ptr<Wave>& wave) {
        return std::none_of(wave->voiceIds.begin(), wave->voiceIds.end(),
                            [&](unsigned id) { return playing.count(id) != 0; });
    });
}

std::size_t SampleBank::WaveCount() const {
    std::lock_guard lock(mutex_);
    return waves_.size();
}

std::size_t SampleBank::InstrumentCount() const {
    std::lock_guard lock(mutex_);
    return instruments_.size();
}

}  // namespace platform::fluidsynth
