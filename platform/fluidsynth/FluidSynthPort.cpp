#include "platform/fluidsynth/FluidSynthPort.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/fluidsynth/EffectsControl.h"
#include "platform/fluidsynth/LatencyClock.h"
#include "platform/fluidsynth/PatchMap.h"
#include "platform/fluidsynth/PortDownload.h"
#include "platform/fluidsynth/Renderer.h"
#include "platform/fluidsynth/SampleDownload.h"
#include "platform/fluidsynth/SegmentPlayer.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/fluidsynth/SynthDownload.h"
#include "platform/fluidsynth/SynthSink.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::BYTE;
using music::DWORD;
using music::HRESULT;

namespace {

constexpr DWORD kStandardVoicePriority = 0x80000000;
// Default voice priority offset of MIDI channels 1..16: the drum channel 10 highest, then
// channels 1 to 9 and 11 to 16 in falling order.
constexpr std::array<DWORD, 16> kChannelPriorityOffset = {0xE, 0xD, 0xC, 0xB, 0xA, 0x9, 0x8, 0x7,
                                                          0x6, 0xF, 0x5, 0x4, 0x3, 0x2, 0x1, 0x0};

// Output format: what FluidSynth's drivers hand the audio server by default.
constexpr music::WORD kChannels = 2;
constexpr music::WORD kBitsPerSample = 16;

int Channels(DWORD groups) {
    return static_cast<int>(groups) * 16;
}

}  // namespace

FluidSynthPort::FluidSynthPort(Setup setup, std::shared_ptr<SynthCore> core)
    : setup_(std::move(setup)),
      core_(std::move(core)),
      clock_(std::make_shared<LatencyClock>()),
      patches_(std::make_shared<PatchMap>()) {
    priorities_.resize(static_cast<std::size_t>(core_->MidiChannels()));
    for (std::size_t i = 0; i < priorities_.size(); ++i)
        priorities_[i] = kStandardVoicePriority | kChannelPriorityOffset[i % 16];
}

FluidSynthPort::~FluidSynthPort() {
    if (sink_)
        sink_->SetOpen(false);
    core_->StopAudio();
}

HRESULT FluidSynthPort::Activate(music::BOOL active) {
    if (!active) {
        if (sink_)
            sink_->SetOpen(false);
        core_->StopAudio();
        active_ = false;
        return music::S_OK;
    }
    if (active_)
        return music::S_OK;
    HRESULT hr = core_->LoadSoundFont(setup_.soundFontPath);
    if (music::Failed(hr))
        return hr;
    hr = core_->StartAudio(setup_.drivers);
    if (music::Failed(hr))
        return hr;
    active_ = true;
    if (sink_)
        sink_->SetOpen(true);
    return music::S_OK;
}

HRESULT FluidSynthPort::GetCaps(music::DMUS_PORTCAPS* caps) {
    if (caps == nullptr)
        return music::E_POINTER;
    *caps = setup_.caps;
    return music::S_OK;
}

HRESULT FluidSynthPort::GetLatencyClock(std::shared_ptr<music::IReferenceClock>* clock) {
    if (clock == nullptr)
        return music::E_POINTER;
    *clock = clock_;
    return music::S_OK;
}

HRESULT FluidSynthPort::PlayBuffer(music::IMusicBuffer& buffer) {
    if (!active_)
        return music::DMUS_E_SYNTHINACTIVE;
    HRESULT hr = buffer.ResetReadPtr();
    if (music::Failed(hr))
        return hr;
    bool played = false;
    for (;;) {
        music::REFERENCE_TIME time = 0;
        DWORD group = 0;
        DWORD length = 0;
        const BYTE* bytes = nullptr;
        hr = buffer.GetNextEvent(&time, &group, &length, &bytes);
        if (hr == music::S_FALSE)
            break;
        if (music::Failed(hr))
            break;
        // Times are not looked at: every event plays now.
        if (bytes != nullptr && length > 0) {
            PlayEvent(group, bytes, length);
            played = true;
        }
    }
    // An idle output resumes only after the events are in the synth, so the first rendered
    // period already holds them.
    if (played)
        core_->Wake();
    return hr == music::S_FALSE ? music::S_OK : hr;
}

void FluidSynthPort::PlayEvent(DWORD channelGroup, const BYTE* bytes, DWORD length) {
    core_->Play(patches_.get(), setup_.channelGroups, channelGroup, bytes, length);
}

HRESULT FluidSynthPort::QueryKsControl(std::shared_ptr<music::IKsControl>* control) {
    if (control == nullptr)
        return music::E_POINTER;
    *control = std::make_shared<EffectsControl>(core_);
    return music::S_OK;
}

HRESULT FluidSynthPort::QueryPortDownload(std::shared_ptr<music::IPortDownload>* download) {
    if (download == nullptr)
        return music::E_POINTER;
    if (!download_)
        download_ = std::make_shared<PortDownload>(
            std::make_shared<SampleDownload>(core_, setup_.caps.dwMemorySize),
            std::make_shared<SynthDownload>(core_, patches_));
    *download = download_;
    return music::S_OK;
}

HRESULT FluidSynthPort::QuerySegmentPlayer(std::shared_ptr<music::ISegmentPlayer>* player) {
    if (player == nullptr)
        return music::E_POINTER;
    *player = std::make_shared<SegmentPlayer>(core_, setup_.channelGroups, patches_);
    return music::S_OK;
}

HRESULT FluidSynthPort::QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) {
    if (sink == nullptr)
        return music::E_POINTER;
    if (!sink_)
        sink_ = std::make_shared<SynthSink>(core_, patches_, setup_.channelGroups);
    sink_->SetOpen(active_);
    *sink = sink_;
    return music::S_OK;
}

HRESULT FluidSynthPort::Compact() {
    return music::S_OK;
}

int FluidSynthPort::PriorityIndex(DWORD channelGroup, DWORD channel) const {
    if (channelGroup == 0 || channelGroup > setup_.channelGroups || channel >= 16)
        return -1;
    const int index = Channels(channelGroup - 1) + static_cast<int>(channel);
    return index < static_cast<int>(priorities_.size()) ? index : -1;
}

HRESULT FluidSynthPort::GetChannelPriority(DWORD channelGroup, DWORD channel, DWORD* priority) {
    if (priority == nullptr)
        return music::E_POINTER;
    const int index = PriorityIndex(channelGroup, channel);
    if (index < 0)
        return music::E_INVALIDARG;
    *priority = priorities_[static_cast<std::size_t>(index)];
    return music::S_OK;
}

HRESULT FluidSynthPort::SetChannelPriority(DWORD channelGroup, DWORD channel, DWORD priority) {
    const int index = PriorityIndex(channelGroup, channel);
    if (index < 0)
        return music::E_INVALIDARG;
    priorities_[static_cast<std::size_t>(index)] = priority;
    return music::S_OK;
}

HRESULT FluidSynthPort::GetRunningStats(music::DMUS_SYNTHSTATS8* stats) {
    if (stats == nullptr)
        return music::E_POINTER;
    if (stats->dwSize != sizeof(music::DMUS_SYNTHSTATS8))
        return music::E_INVALIDARG;
    const int voices = std::max(0, fluid_synth_get_active_voice_count(core_->Synth()));
    // FluidSynth gives a percentage; the record holds hundredths of a percent.
    const double load = std::clamp(fluid_synth_get_cpu_load(core_->Synth()), 0.0, 100.0);
    stats->dwValidStats = music::DMUS_SYNTHSTATS_VOICES | music::DMUS_SYNTHSTATS_TOTAL_CPU |
                          music::DMUS_SYNTHSTATS_CPU_PER_VOICE;
    stats->dwVoices = static_cast<DWORD>(voices);
    stats->dwTotalCPU = static_cast<DWORD>(load * 100.0);
    stats->dwCPUPerVoice = voices > 0 ? stats->dwTotalCPU / static_cast<DWORD>(voices) : 0;
    return music::S_OK;
}

HRESULT FluidSynthPort::GetFormat(music::WAVEFORMATEX* format, DWORD* formatSize,
                                  DWORD* bufferSize) {
    if (formatSize == nullptr)
        return music::E_POINTER;
    *formatSize = sizeof(music::WAVEFORMATEX);
    const auto rate = static_cast<DWORD>(core_->SampleRate());
    constexpr music::WORD kBlockAlign = kChannels * kBitsPerSample / 8;
    if (format != nullptr) {
        *format = {};
        format->wFormatTag = music::WAVE_FORMAT_PCM;
        format->nChannels = kChannels;
        format->nSamplesPerSec = rate;
        format->nAvgBytesPerSec = rate * kBlockAlign;
        format->nBlockAlign = kBlockAlign;
        format->wBitsPerSample = kBitsPerSample;
    }
    if (bufferSize != nullptr)
        *bufferSize = static_cast<DWORD>(core_->PeriodSize() * core_->Periods()) * kBlockAlign;
    return music::S_OK;
}

HRESULT FluidSynthPort::GetNumChannelGroups(DWORD* count) {
    if (count == nullptr)
        return music::E_POINTER;
    *count = setup_.channelGroups;
    return music::S_OK;
}

HRESULT FluidSynthPort::SetNumChannelGroups(DWORD count) {
    if (count == 0 || count > setup_.caps.dwMaxChannelGroups ||
        Channels(count) > core_->MidiChannels())
        return music::E_INVALIDARG;
    setup_.channelGroups = count;
    if (sink_)
        sink_->SetChannelGroups(count);
    return music::S_OK;
}

std::shared_ptr<Renderer> FluidSynthPort::GetRenderer() const {
    return std::make_shared<Renderer>(core_);
}

}  // namespace platform::fluidsynth
