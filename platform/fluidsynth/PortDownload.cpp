#include "platform/fluidsynth/PortDownload.h"

#include "platform/fluidsynth/SampleDownload.h"
#include "platform/fluidsynth/SynthDownload.h"

namespace platform::fluidsynth {

using music::DWORD;
using music::HRESULT;

PortDownload::PortDownload(std::shared_ptr<SampleDownload> samples,
                           std::shared_ptr<SynthDownload> instruments)
    : samples_(std::move(samples)), instruments_(std::move(instruments)) {}

HRESULT PortDownload::AllocateBuffer(DWORD size, std::shared_ptr<music::IDownload>* buffer) {
    return samples_->AllocateBuffer(size, buffer);
}

HRESULT PortDownload::GetDLId(DWORD* start, DWORD count) {
    return samples_->GetDLId(start, count);
}

HRESULT PortDownload::GetAppend(DWORD* append) {
    return samples_->GetAppend(append);
}

HRESULT PortDownload::Download(music::IDownload& buffer) {
    return samples_->Download(buffer);
}

HRESULT PortDownload::Unload(music::IDownload& buffer) {
    return samples_->Unload(buffer);
}

HRESULT PortDownload::DownloadInstrument(music::IInstrument& instrument,
                                         std::shared_ptr<music::IDownloadedInstrument>* downloaded,
                                         const music::DMUS_NOTERANGE* ranges, DWORD rangeCount) {
    return instruments_->DownloadInstrument(instrument, downloaded, ranges, rangeCount);
}

HRESULT PortDownload::UnloadInstrument(music::IDownloadedInstrument& downloaded) {
    return instruments_->UnloadInstrument(downloaded);
}

}  // namespace platform::fluidsynth
