#include "platform/music/MusicObject.h"

#include <algorithm>

#include "platform/music/EventBuffer.h"
#include "platform/music/MirroredPort.h"
#include "platform/music/MonotonicClock.h"
#include "platform/music/ResultCodes.h"

namespace platform::music {

MusicObject::MusicObject(std::vector<std::unique_ptr<IPortBackend>> backends,
                         std::shared_ptr<IMidiSink> mirror)
    : backends_(std::move(backends)),
      mirror_(std::move(mirror)),
      master_(MonotonicClock::Entry()) {}

HRESULT MusicObject::SetDirectSound(void* soundObject, WindowHandle /*window*/) {
    // Every backend manages its own audio output; an external sound object is not supported.
    if (soundObject != nullptr)
        return E_NOTIMPL;
    if (soundSet_)
        return DMUS_E_DSOUND_ALREADY_SET;
    soundSet_ = true;
    return S_OK;
}

void MusicObject::Relist() {
    ports_.clear();
    std::vector<DMUS_PORTCAPS> listed;
    for (const auto& backend : backends_) {
        listed.clear();
        backend->ListPorts(listed);
        for (const auto& caps : listed)
            ports_.push_back({caps, backend.get()});
    }
}

HRESULT MusicObject::EnumPort(DWORD index, DMUS_PORTCAPS* caps) {
    if (caps == nullptr)
        return E_POINTER;
    if (caps->dwSize != sizeof(DMUS_PORTCAPS))
        return E_INVALIDARG;
    if (index == 0 || ports_.empty())
        Relist();
    if (index >= ports_.size())
        return S_FALSE;
    *caps = ports_[index].caps;
    caps->dwSize = sizeof(DMUS_PORTCAPS);
    return S_OK;
}

HRESULT MusicObject::CreatePort(const GUID& portGuid, DMUS_PORTPARAMS8* params,
                                std::unique_ptr<IMusicPort>* port) {
    if (params == nullptr || port == nullptr)
        return E_POINTER;
    if (params->dwSize != sizeof(DMUS_PORTPARAMS8))
        return E_INVALIDARG;
    auto found = std::find_if(ports_.begin(), ports_.end(),
                              [&](const Listed& l) { return l.caps.guidPort == portGuid; });
    if (found == ports_.end()) {
        Relist();
        found = std::find_if(ports_.begin(), ports_.end(),
                             [&](const Listed& l) { return l.caps.guidPort == portGuid; });
        if (found == ports_.end())
            return E_INVALIDARG;
    }
    const HRESULT hr = found->backend->CreatePort(portGuid, params, port);
    if (Succeeded(hr) && mirror_ && *port && found->caps.dwClass == DMUS_PC_OUTPUTCLASS)
        *port = std::make_unique<MirroredPort>(std::move(*port), mirror_);
    return hr;
}

HRESULT MusicObject::CreateMusicBuffer(const DMUS_BUFFERDESC* desc,
                                       std::unique_ptr<IMusicBuffer>* buffer) {
    if (desc == nullptr || buffer == nullptr)
        return E_POINTER;
    if (desc->dwSize != sizeof(DMUS_BUFFERDESC) || desc->cbBuffer == 0)
        return E_INVALIDARG;
    *buffer = std::make_unique<EventBuffer>(desc->cbBuffer);
    return S_OK;
}

std::vector<ClockEntry> MusicObject::Clocks() const {
    std::vector<ClockEntry> clocks{MonotonicClock::Entry()};
    for (const auto& backend : backends_)
        backend->ListClocks(clocks);
    return clocks;
}

HRESULT MusicObject::EnumMasterClock(DWORD index, DMUS_CLOCKINFO8* info) {
    if (info == nullptr)
        return E_POINTER;
    if (info->dwSize != sizeof(DMUS_CLOCKINFO8))
        return E_INVALIDARG;
    if (index == 0 || clocks_.empty())
        clocks_ = Clocks();
    if (index >= clocks_.size())
        return S_FALSE;
    *info = clocks_[index].info;
    info->dwSize = sizeof(DMUS_CLOCKINFO8);
    return S_OK;
}

HRESULT MusicObject::SetMasterClock(const GUID& clockGuid) {
    for (const ClockEntry& entry : Clocks()) {
        if (entry.info.guidClock == clockGuid) {
            master_ = entry;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT MusicObject::GetMasterClock(GUID* clockGuid, std::shared_ptr<IReferenceClock>* clock) {
    if (clockGuid != nullptr)
        *clockGuid = master_.info.guidClock;
    if (clock != nullptr)
        *clock = master_.clock;
    return S_OK;
}

}  // namespace platform::music
