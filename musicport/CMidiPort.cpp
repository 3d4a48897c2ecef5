#include "musicport/CMidiPort.h"

#include <cstdint>

#include "musicport/CDMusicException.h"
#include "musicport/Utf8Text.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kInitialize = "CMidiPort::Initialize()";
constexpr const char* kGetNumPorts = "CMidiPort::GetNumPorts()";
constexpr const char* kGetPortInfo = "CMidiPort::GetPortInfo()";
constexpr const char* kGetActivatedPortInfo = "CMidiPort::GetActivatedPortInfo()";
constexpr const char* kActivatePort = "CMidiPort::ActivatePort()";
constexpr const char* kSetBuffer = "CMidiPort::SetBuffer()";
constexpr const char* kKsProperty = "CMidiPort::KsProperty()";

// Event-buffer descriptor for one event of `payload` bytes: 20-byte header plus payload,
// rounded up to a multiple of 8 (56 bytes for the 32 the application uses).
pm::DMUS_BUFFERDESC BufferDesc(const char* label, DWORD payload) {
    const std::uint64_t bytes = (std::uint64_t{payload} + 27) & ~std::uint64_t{7};
    if (bytes > UINT32_MAX)
        throw CDMusicException(label, -1);
    pm::DMUS_BUFFERDESC desc;
    desc.dwSize = sizeof(pm::DMUS_BUFFERDESC);
    desc.dwFlags = 0;
    desc.guidBufferFormat = pm::GUID_NULL;
    desc.cbBuffer = static_cast<DWORD>(bytes);
    return desc;
}

}  // namespace

void FillPortInfo(const pm::DMUS_PORTCAPS& caps, PortInfo& info) {
    info = PortInfo{};
    Utf16ToUtf8(info.szPortDescription,
                std::u16string_view(caps.wszDescription.data(), caps.wszDescription.size()));
    info.dwFlags = caps.dwFlags;
    info.dwClass = caps.dwClass;
    info.dwType = caps.dwType;
    info.dwMemorySize = caps.dwMemorySize;
    info.dwMaxAudioChannels = caps.dwMaxAudioChannels;
    info.dwMaxVoices = caps.dwMaxVoices;
    info.dwMaxChannelGroups = caps.dwMaxChannelGroups;
    info.dwEffectFlags = caps.dwEffectFlags;
    info.guidPort = caps.guidPort;
}

CMidiPort::CMidiPort(DWORD portClass) : m_dwPortClass(portClass) {}

CMidiPort::~CMidiPort() = default;

int CMidiPort::Initialize(CDirectMusic& music) {
    if (music.GetMusic() == nullptr)
        throw CDMusicException(kInitialize, -1);
    m_music = music.GetMusic();
    m_portParams = pm::DMUS_PORTPARAMS8{};
    m_portParams.dwSize = sizeof(pm::DMUS_PORTPARAMS8);
    return 0;
}

DWORD CMidiPort::Walk(const char* label, DWORD stopAt, pm::DMUS_PORTCAPS& caps, bool& found) {
    if (m_music == nullptr)
        throw CDMusicException(label, -1);
    caps = pm::DMUS_PORTCAPS{};
    caps.dwSize = sizeof(pm::DMUS_PORTCAPS);
    found = false;
    DWORD count = 0;
    for (DWORD index = 0;; ++index) {
        const HRESULT hr = m_music->EnumPort(index, &caps);
        if (hr == pm::S_FALSE)
            return count;
        if (hr != pm::S_OK)
            throw CDMusicException(label, hr);
        if (caps.dwClass != m_dwPortClass)
            continue;
        if (++count == stopAt) {
            found = true;
            return count;
        }
    }
}

DWORD CMidiPort::GetNumPorts() {
    pm::DMUS_PORTCAPS caps;
    bool found = false;
    return Walk(kGetNumPorts, 0, caps, found);
}

HRESULT CMidiPort::GetPortInfo(DWORD portNumber, PortInfo* info) {
    if (info == nullptr)
        throw CDMusicException(kGetPortInfo, -1);
    pm::DMUS_PORTCAPS caps;
    bool found = false;
    Walk(kGetPortInfo, portNumber, caps, found);
    if (!found)
        return pm::S_FALSE;
    FillPortInfo(caps, *info);
    return pm::S_OK;
}

HRESULT CMidiPort::GetActivatedPortInfo(PortInfo* info) {
    if (!m_port || m_music == nullptr || info == nullptr)
        throw CDMusicException(kGetActivatedPortInfo, -1);
    pm::DMUS_PORTCAPS caps;
    caps.dwSize = sizeof(pm::DMUS_PORTCAPS);
    const HRESULT hr = m_port->GetCaps(&caps);
    if (pm::Failed(hr))
        throw CDMusicException(kGetActivatedPortInfo, hr);
    FillPortInfo(caps, *info);
    return hr;
}

void CMidiPort::SetPortParams(DWORD voices, DWORD audioChannels, DWORD channelGroups,
                              DWORD effectFlags, DWORD sampleRate) {
    DWORD valid = 0;
    if (voices != 0)
        valid |= pm::DMUS_PORTPARAMS_VOICES;
    if (audioChannels != 0)
        valid |= pm::DMUS_PORTPARAMS_AUDIOCHANNELS;
    if (channelGroups != 0)
        valid |= pm::DMUS_PORTPARAMS_CHANNELGROUPS;
    if (effectFlags != 0)
        valid |= pm::DMUS_PORTPARAMS_EFFECTS;
    if (sampleRate != 0)
        valid |= pm::DMUS_PORTPARAMS_SAMPLERATE;
    m_portParams.dwSize = sizeof(pm::DMUS_PORTPARAMS8);
    m_portParams.dwValidParams = valid;
    m_portParams.dwVoices = voices;
    m_portParams.dwAudioChannels = audioChannels;
    m_portParams.dwChannelGroups = channelGroups;
    m_portParams.dwEffectFlags = effectFlags;
    m_portParams.dwSampleRate = sampleRate;
}

int CMidiPort::ActivatePort(const PortInfo* info, DWORD sysExSize, BOOL fromInterface) {
    const bool canCreate = !m_port && info != nullptr;
    const bool adopted = fromInterface && m_port;
    if (m_music == nullptr || !(canCreate || adopted) || m_buffer)
        throw CDMusicException(kActivatePort, -1);
    const pm::DMUS_BUFFERDESC desc = BufferDesc(kActivatePort, sysExSize);

    if (!fromInterface) {
        const HRESULT hr = m_music->CreatePort(info->guidPort, &m_portParams, &m_port);
        if (pm::Failed(hr)) {
            m_port.reset();
            throw CDMusicException(kActivatePort, hr);
        }
        if (!m_port)
            throw CDMusicException(kActivatePort, -1);
    }
    HRESULT hr = m_port->Activate(pm::TRUE);
    if (pm::Failed(hr))
        throw CDMusicException(kActivatePort, hr);
    std::unique_ptr<pm::IMusicBuffer> made;
    hr = m_music->CreateMusicBuffer(&desc, &made);
    if (pm::Failed(hr))
        throw CDMusicException(kActivatePort, hr);
    m_buffer = std::move(made);
    if (!m_buffer)
        throw CDMusicException(kActivatePort, -1);
    return 0;
}

int CMidiPort::SetBuffer(DWORD eventSize) {
    if (m_music == nullptr)
        throw CDMusicException(kSetBuffer, -1);
    const pm::DMUS_BUFFERDESC desc = BufferDesc(kSetBuffer, eventSize);
    m_buffer.reset();
    std::unique_ptr<pm::IMusicBuffer> made;
    const HRESULT hr = m_music->CreateMusicBuffer(&desc, &made);
    if (pm::Failed(hr))
        throw CDMusicException(kSetBuffer, hr);
    m_buffer = std::move(made);
    if (!m_buffer)
        throw CDMusicException(kSetBuffer, -1);
    return 0;
}

int CMidiPort::ReleaseBuffer() {
    if (!m_buffer)
        return 1;
    m_buffer.reset();
    return 0;
}

HRESULT CMidiPort::KsProperty(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataLength,
                              ULONG* bytesReturned) {
    return PropertyCall(kKsProperty, set, id, flags, data, dataLength, bytesReturned);
}

HRESULT CMidiPort::PropertyCall(const char* label, const GUID& set, ULONG id, ULONG flags,
                                void* data, ULONG dataLength, ULONG* bytesReturned) {
    if (!m_port)
        throw CDMusicException(label, -1);
    // Held only for this call.
    std::shared_ptr<pm::IKsControl> control;
    HRESULT hr = m_port->QueryKsControl(&control);
    if (pm::Failed(hr))
        throw CDMusicException(label, hr);
    if (!control)
        throw CDMusicException(label, -1);
    pm::KSPROPERTY property;
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    hr = control->KsProperty(&property, sizeof property, data, dataLength, bytesReturned);
    if (pm::Failed(hr) && hr != pm::DMUS_E_UNKNOWN_PROPERTY)
        throw CDMusicException(label, hr);
    return hr;
}

}  // namespace musicport
