#include "musicport/COutputPort.h"

#include "musicport/CDMusicException.h"
#include "musicport/CInstrument.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kActivatePort = "COutputPort::ActivatePort()";
constexpr const char* kActivatePortFromInterface = "COutputPort::ActivatePortFromInterface()";
constexpr const char* kSendShort = "COutputPort::SendMidiMsg() short version";
constexpr const char* kSendLong = "COutputPort::SendMidiMsg() long version";
constexpr const char* kSetEffect = "COutputPort::SetEffect()";
constexpr const char* kDownloadInstrument = "COutputPort::DownloadInstrument(CInstrument)";
constexpr const char* kUnloadInstrument = "COutputPort::UnloadInstrument(CInstrument)";
constexpr const char* kCompactMemory = "COutputPort::CompactMemory()";
constexpr const char* kGetChannelPriority = "COutputPort::GetChannelPriority()";
constexpr const char* kSetChannelPriority = "COutputPort::SetChannelPriority()";
constexpr const char* kGetSynthStats = "COutputPort::GetSynthStats()";
constexpr const char* kGetFormat = "COutputPort::GetFormat()";
constexpr const char* kGetNumChannelGroups = "COutputPort::GetNumChannelGroups()";
constexpr const char* kSetNumChannelGroups = "COutputPort::SetNumChannelGroups()";

// Throws a failed result; the exception carries the caller's line.
void Check(HRESULT hr, const char* label,
           std::source_location where = std::source_location::current()) {
    if (pm::Failed(hr))
        throw CDMusicException(label, hr, where);
}

}  // namespace

COutputPort::COutputPort() : CMidiPort(pm::DMUS_PC_OUTPUTCLASS) {}

COutputPort::~COutputPort() {
    DeactivatePort();
}

int COutputPort::ActivatePort(const PortInfo* info, DWORD sysExSize) {
    if (m_latencyClock)
        throw CDMusicException(kActivatePort, -1);
    CMidiPort::ActivatePort(info, sysExSize, pm::FALSE);
    AcquireClockAndDownload(kActivatePort);
    return 0;
}

int COutputPort::ActivatePortFromInterface(std::unique_ptr<pm::IMusicPort> port, DWORD sysExSize) {
    // A held port is never replaced: it may be the active one.
    if (!port || m_port)
        throw CDMusicException(kActivatePortFromInterface, -1);
    m_port = std::move(port);
    CMidiPort::ActivatePort(nullptr, sysExSize, pm::TRUE);
    AcquireClockAndDownload(kActivatePortFromInterface);
    return 0;
}

void COutputPort::AcquireClockAndDownload(const char* label) {
    const HRESULT hr = m_port->GetLatencyClock(&m_latencyClock);
    if (pm::Failed(hr)) {
        m_latencyClock.reset();
        throw CDMusicException(label, hr);
    }
    if (!m_latencyClock)
        throw CDMusicException(label, -1);
    // Ports without downloadable sounds have no download interface; that is not an error.
    if (pm::Failed(m_port->QueryPortDownload(&m_portDownload)))
        m_portDownload.reset();
}

HRESULT COutputPort::DeactivatePort() {
    HRESULT hr = -1;
    if (m_port)
        hr = m_port->Activate(pm::FALSE);
    m_portDownload.reset();
    m_latencyClock.reset();
    m_buffer.reset();
    m_port.reset();
    return hr;
}

int COutputPort::SendMidiMsg(DWORD msg, DWORD channelGroup) {
    if (!m_port || !m_buffer || !m_latencyClock)
        throw CDMusicException(kSendShort, -1);
    pm::REFERENCE_TIME now = 0;
    Check(m_latencyClock->GetTime(&now), kSendShort);
    Check(m_buffer->PackStructured(now, channelGroup, msg), kSendShort);
    PlayAndFlush(kSendShort);
    return 0;
}

int COutputPort::SendMidiMsg(const BYTE* data, DWORD length, DWORD channelGroup) {
    if (!m_port || !m_buffer || !m_latencyClock || (data == nullptr && length != 0))
        throw CDMusicException(kSendLong, -1);
    pm::REFERENCE_TIME now = 0;
    Check(m_latencyClock->GetTime(&now), kSendLong);
    Check(m_buffer->PackUnstructured(now, channelGroup, length, data), kSendLong);
    PlayAndFlush(kSendLong);
    return 0;
}

void COutputPort::PlayAndFlush(const char* label, std::source_location where) {
    const HRESULT hr = m_port->PlayBuffer(*m_buffer);
    if (pm::Failed(hr)) {
        // Never leave the unplayed event behind: the next send would play it again.
        m_buffer->Flush();
        throw CDMusicException(label, hr, where);
    }
    Check(m_buffer->Flush(), label, where);
}

int COutputPort::SetEffect(BYTE effects) {
    DWORD value = effects;
    PropertyCall(kSetEffect, pm::GUID_DMUS_PROP_Effects, 0, pm::KSPROPERTY_TYPE_SET, &value,
                 sizeof value, nullptr);
    return 0;
}

int COutputPort::DownloadInstrument(CInstrument& instrument) {
    if (!m_latencyClock || !instrument.m_instrument)
        return -1;
    if (!m_portDownload)
        throw CDMusicException(kDownloadInstrument, pm::E_NOINTERFACE);
    std::shared_ptr<pm::IDownloadedInstrument> downloaded;
    const HRESULT hr = m_portDownload->DownloadInstrument(*instrument.m_instrument, &downloaded,
                                                          &instrument.m_noteRange, 1);
    if (pm::Failed(hr))
        throw CDMusicException(kDownloadInstrument, hr);
    instrument.m_downloaded = std::move(downloaded);
    instrument.m_port = m_portDownload;
    return 0;
}

int COutputPort::UnloadInstrument(CInstrument& instrument) {
    if (!m_latencyClock || !instrument.m_downloaded)
        return -1;
    // The instrument is unloaded from the port that holds it, which is this one while the
    // application keeps one instrument downloaded at a time.
    const auto holder = instrument.m_port.lock();
    pm::IPortDownload* port = holder ? holder.get() : m_portDownload.get();
    if (port == nullptr)
        throw CDMusicException(kUnloadInstrument, -1);
    const HRESULT hr = port->UnloadInstrument(*instrument.m_downloaded);
    if (pm::Failed(hr))
        throw CDMusicException(kUnloadInstrument, hr);
    instrument.m_downloaded.reset();
    return 0;
}

pm::IMusicPort& COutputPort::RequirePort(const char* label, std::source_location where) {
    if (!m_port)
        throw CDMusicException(label, -1, where);
    return *m_port;
}

int COutputPort::CompactMemory() {
    Check(RequirePort(kCompactMemory).Compact(), kCompactMemory);
    return 0;
}

HRESULT COutputPort::GetChannelPriority(DWORD channelGroup, DWORD channel, DWORD* priority) {
    pm::IMusicPort& port = RequirePort(kGetChannelPriority);
    if (priority == nullptr)
        throw CDMusicException(kGetChannelPriority, -1);
    return port.GetChannelPriority(channelGroup, channel, priority);
}

int COutputPort::SetChannelPriority(DWORD channelGroup, DWORD channel, DWORD priority) {
    Check(RequirePort(kSetChannelPriority).SetChannelPriority(channelGroup, channel, priority),
          kSetChannelPriority);
    return 0;
}

int COutputPort::GetSynthStats(pm::DMUS_SYNTHSTATS8* stats) {
    pm::IMusicPort& port = RequirePort(kGetSynthStats);
    if (stats == nullptr)
        throw CDMusicException(kGetSynthStats, -1);
    *stats = pm::DMUS_SYNTHSTATS8{};
    stats->dwSize = sizeof(pm::DMUS_SYNTHSTATS8);
    Check(port.GetRunningStats(stats), kGetSynthStats);
    return 0;
}

int COutputPort::GetFormat(pm::WAVEFORMATEX* format, DWORD* formatSize, DWORD* bufferSize) {
    pm::IMusicPort& port = RequirePort(kGetFormat);
    if (format == nullptr || formatSize == nullptr || bufferSize == nullptr)
        throw CDMusicException(kGetFormat, -1);
    Check(port.GetFormat(format, formatSize, bufferSize), kGetFormat);
    return 0;
}

int COutputPort::GetNumChannelGroups(DWORD* count) {
    pm::IMusicPort& port = RequirePort(kGetNumChannelGroups);
    if (count == nullptr)
        throw CDMusicException(kGetNumChannelGroups, -1);
    Check(port.GetNumChannelGroups(count), kGetNumChannelGroups);
    return 0;
}

int COutputPort::SetNumChannelGroups(DWORD count) {
    Check(RequirePort(kSetNumChannelGroups).SetNumChannelGroups(count), kSetNumChannelGroups);
    return 0;
}

}  // namespace musicport
