#pragma once

#include <memory>
#include <mutex>

#include "platform/music/IPortDownload.h"

namespace platform::fluidsynth {

class SampleBank;
class SynthCore;

// Sample downloads of the built-in synthesizer: download buffers in ordinary memory whose
// records become FluidSynth samples and in-memory presets (SampleBank). One per port,
// created at the first query and shared by every holder of the interface.
class SampleDownload final : public music::ISampleDownload {
public:
    // `memorySize`: the most one buffer may take, the port's advertised sample memory.
    SampleDownload(std::shared_ptr<SynthCore> core, music::DWORD memorySize);
    ~SampleDownload() override;

    music::HRESULT AllocateBuffer(music::DWORD size,
                                  std::shared_ptr<music::IDownload>* buffer) override;
    music::HRESULT GetDLId(music::DWORD* start, music::DWORD count) override;
    music::HRESULT GetAppend(music::DWORD* append) override;
    music::HRESULT Download(music::IDownload& buffer) override;
    music::HRESULT Unload(music::IDownload& buffer) override;

    const SampleBank& Bank() const { return *bank_; }

private:
    std::shared_ptr<SynthCore> core_;
    std::shared_ptr<SampleBank> bank_;
    music::DWORD memorySize_;
    bool added_ = false;
    std::mutex mutex_;
    music::DWORD nextId_ = 1;
};

}  // namespace platform::fluidsynth
