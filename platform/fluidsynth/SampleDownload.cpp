#include "platform/fluidsynth/SampleDownload.h"

#include <new>

#include "platform/fluidsynth/SampleBank.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/DownloadBuffer.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::DWORD;
using music::HRESULT;

namespace {

HRESULT Bytes(music::IDownload& buffer, const music::BYTE** bytes, DWORD* size) {
    void* data = nullptr;
    const HRESULT hr = buffer.GetBuffer(&data, size);
    if (music::Failed(hr))
        return hr;
    if (data == nullptr)
        return music::DMUS_E_INVALIDBUFFER;
    *bytes = static_cast<const music::BYTE*>(data);
    return music::S_OK;
}

}  // namespace

SampleDownload::SampleDownload(std::shared_ptr<SynthCore> core, DWORD memorySize)
    : core_(std::move(core)), bank_(std::make_shared<SampleBank>()), memorySize_(memorySize) {
    added_ = SampleBank::AddTo(core_->Synth(), bank_);
}

SampleDownload::~SampleDownload() = default;

HRESULT SampleDownload::AllocateBuffer(DWORD size, std::shared_ptr<music::IDownload>* buffer) {
    if (buffer == nullptr)
        return music::E_POINTER;
    if (size == 0 || size > memorySize_)
        return music::E_OUTOFMEMORY;
    try {
        *buffer = std::make_shared<music::DownloadBuffer>(size);
    } catch (const std::bad_alloc&) {
        return music::E_OUTOFMEMORY;
    }
    return music::S_OK;
}

HRESULT SampleDownload::GetDLId(DWORD* start, DWORD count) {
    if (start == nullptr)
        return music::E_POINTER;
    std::lock_guard lock(mutex_);
    *start = nextId_;
    nextId_ += count;
    return music::S_OK;
}

HRESULT SampleDownload::GetAppend(DWORD* append) {
    if (append == nullptr)
        return music::E_POINTER;
    // FluidSynth copies every wave into memory of its own with the margins it needs.
    *append = 0;
    return music::S_OK;
}

HRESULT SampleDownload::Download(music::IDownload& buffer) {
    if (!added_)
        return music::DMUS_E_SYNTHNOTCONFIGURED;
    const music::BYTE* bytes = nullptr;
    DWORD size = 0;
    const HRESULT hr = Bytes(buffer, &bytes, &size);
    if (music::Failed(hr))
        return hr;
    try {
        return bank_->Download(bytes, size, core_->Synth());
    } catch (const std::bad_alloc&) {
        return music::E_OUTOFMEMORY;
    }
}

HRESULT SampleDownload::Unload(music::IDownload& buffer) {
    const music::BYTE* bytes = nullptr;
    DWORD size = 0;
    const HRESULT hr = Bytes(buffer, &bytes, &size);
    if (music::Failed(hr))
        return hr;
    return bank_->Unload(bytes, size, core_->Synth());
}

}  // namespace platform::fluidsynth
