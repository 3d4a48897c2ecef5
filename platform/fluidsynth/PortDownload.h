#pragma once

#include <memory>

#include "platform/music/IPortDownload.h"

namespace platform::fluidsynth {

class SampleDownload;
class SynthDownload;

// The built-in synthesizer's downloads as one interface: sample memory (SampleDownload) and
// instruments of collections (SynthDownload), each made on its first use.
class PortDownload final : public music::IPortDownload {
public:
    PortDownload(std::shared_ptr<SampleDownload> samples,
                 std::shared_ptr<SynthDownload> instruments);

    music::HRESULT AllocateBuffer(music::DWORD size,
                                  std::shared_ptr<music::IDownload>* buffer) override;
    music::HRESULT GetDLId(music::DWORD* start, music::DWORD count) override;
    music::HRESULT GetAppend(music::DWORD* append) override;
    music::HRESULT Download(music::IDownload& buffer) override;
    music::HRESULT Unload(music::IDownload& buffer) override;
    music::HRESULT DownloadInstrument(music::IInstrument& instrument,
                                      std::shared_ptr<music::IDownloadedInstrument>* downloaded,
                                      const music::DMUS_NOTERANGE* ranges,
                                      music::DWORD rangeCount) override;
    music::HRESULT UnloadInstrument(music::IDownloadedInstrument& downloaded) override;

private:
    std::shared_ptr<SampleDownload> samples_;
    std::shared_ptr<SynthDownload> instruments_;
};

}  // namespace platform::fluidsynth
