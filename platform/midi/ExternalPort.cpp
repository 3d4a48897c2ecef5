#include "platform/midi/ExternalPort.h"

#include "platform/music/ResultCodes.h"
#include "platform/music/SteadyTime.h"

namespace platform::midi {

using music::DWORD;
using music::HRESULT;

namespace {

class SteadyClock final : public music::IReferenceClock {
public:
    HRESULT GetTime(music::REFERENCE_TIME* time) override {
        if (time == nullptr)
            return music::E_POINTER;
        *time = music::SteadyNow();
        return music::S_OK;
    }
};

class NoProperties final : public music::IKsControl {
public:
    HRESULT KsProperty(const music::KSPROPERTY*, music::ULONG, void*, music::ULONG,
                       music::ULONG*) override {
        return music::DMUS_E_UNKNOWN_PROPERTY;
    }
};

}  // namespace

ExternalPort::ExternalPort(MidiApi api, std::string portName, const music::DMUS_PORTCAPS& caps)
    : api_(api), portName_(std::move(portName)), caps_(caps) {}

HRESULT ExternalPort::GetCaps(music::DMUS_PORTCAPS* caps) {
    if (caps == nullptr)
        return music::E_POINTER;
    *caps = caps_;
    return music::S_OK;
}

HRESULT ExternalPort::GetLatencyClock(std::shared_ptr<music::IReferenceClock>* clock) {
    if (clock == nullptr)
        return music::E_POINTER;
    *clock = std::make_shared<SteadyClock>();
    return music::S_OK;
}

HRESULT ExternalPort::QueryKsControl(std::shared_ptr<music::IKsControl>* control) {
    if (control == nullptr)
        return music::E_POINTER;
    *control = std::make_shared<NoProperties>();
    return music::S_OK;
}

HRESULT ExternalPort::QueryPortDownload(std::shared_ptr<music::IPortDownload>* download) {
    if (download != nullptr)
        download->reset();
    return music::E_NOINTERFACE;
}

HRESULT ExternalPort::Compact() {
    return music::S_OK;
}

HRESULT ExternalPort::GetChannelPriority(DWORD, DWORD, DWORD*) {
    return music::E_NOTIMPL;
}

HRESULT ExternalPort::SetChannelPriority(DWORD, DWORD, DWORD) {
    return music::E_NOTIMPL;
}

HRESULT ExternalPort::GetRunningStats(music::DMUS_SYNTHSTATS8*) {
    return music::E_NOTIMPL;
}

HRESULT ExternalPort::GetFormat(music::WAVEFORMATEX*, DWORD*, DWORD*) {
    return music::E_NOTIMPL;
}

HRESULT ExternalPort::GetNumChannelGroups(DWORD* count) {
    if (count == nullptr)
        return music::E_POINTER;
    *count = 1;
    return music::S_OK;
}

HRESULT ExternalPort::SetNumChannelGroups(DWORD count) {
    return count == 1 ? music::S_OK : music::E_INVALIDARG;
}

HRESULT ExternalPort::SendBuffer(music::IMusicBuffer& buffer, music::IMidiSink& sink) {
    HRESULT hr = buffer.ResetReadPtr();
    if (music::Failed(hr))
        return hr;
    for (;;) {
        music::DWORD group = 0;
        music::DWORD length = 0;
        const music::BYTE* bytes = nullptr;
        hr = buffer.GetNextEvent(nullptr, &group, &length, &bytes);
        if (hr == music::S_FALSE)
            return music::S_OK;
        if (music::Failed(hr))
            return hr;
        sink.Send(group, bytes, length);
    }
}

}  // namespace platform::midi
