#include "musicport/CSampleInstrument.h"

#include <cstring>
#include <limits>

#include "musicport/CDMusicException.h"
#include "musicport/CWaveFile.h"
#include "musicport/ThrowIfFailed.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;
namespace layout = pm::download_layout;

namespace {
constexpr const char* kSetWaveForm = "CSampleInstrument::SetWaveForm()";
constexpr const char* kGetWaveForm = "CSampleInstrument::GetWaveForm()";
constexpr const char* kSetRegion = "CSampleInstrument::SetRegion()";
constexpr const char* kGetRegion = "CSampleInstrument::GetRegion()";
constexpr const char* kArticulation = "CSampleInstrument::SetArticulationParams()";
constexpr const char* kAllocateInst = "CSampleInstrument::AllocateInstBuffer()";
constexpr const char* kAllocateWave = "CSampleInstrument::AllocateWaveBuffer()";
constexpr const char* kGetWaveBuffer = "CSampleInstrument::GetWaveBuffer()";
constexpr const char* kGetInstBuffer = "CSampleInstrument::GetInstBuffer()";

template <typename T>
void Put(BYTE* base, DWORD offset, const T& value) {
    std::memcpy(base + offset, &value, sizeof value);
}

// The bytes of `buffer`, which must hold at least `needed` of them.
BYTE* Bytes(pm::IDownload& buffer, DWORD needed, const char* label,
            std::source_location where = std::source_location::current()) {
    void* data = nullptr;
    DWORD size = 0;
    ThrowIfFailed(buffer.GetBuffer(&data, &size), label, where);
    if (data == nullptr || size < needed)
        throw CDMusicException(label, pm::E_OUTOFMEMORY, where);
    return static_cast<BYTE*>(data);
}

}  // namespace

CSampleInstrument::CSampleInstrument() = default;

CSampleInstrument::~CSampleInstrument() {
    if (auto download = m_portDownload.lock()) {
        if (m_waveBuffer)
            download->Unload(*m_waveBuffer);
        if (m_instBuffer)
            download->Unload(*m_instBuffer);
    }
}

int CSampleInstrument::SetWaveForm(BYTE* data, const pm::WAVEFORMATEX* format, DWORD size) {
    if (data == nullptr || format == nullptr)
        throw CDMusicException(kSetWaveForm, -1);
    m_ownedData.clear();
    m_ownedData.shrink_to_fit();
    m_pWaveData = data;
    m_waveFormat = *format;
    m_dwWaveSize = size;
    m_bCallerData = 1;
    m_bFromFile = 0;
    m_bWaveLoaded = 0;
    return 0;
}

int CSampleInstrument::GetWaveForm(BYTE** data, pm::WAVEFORMATEX* format, DWORD* size) const {
    if (format == nullptr || size == nullptr)
        throw CDMusicException(kGetWaveForm, -1);
    if (data != nullptr)
        *data = m_pWaveData;
    *format = m_waveFormat;
    *size = m_dwWaveSize;
    return 0;
}

int CSampleInstrument::SetRegion(const SampleRegion* region) {
    if (region == nullptr)
        throw CDMusicException(kSetRegion, -1);
    m_region = *region;
    return 0;
}

int CSampleInstrument::GetRegion(SampleRegion* region) const {
    if (region == nullptr)
        throw CDMusicException(kGetRegion, -1);
    *region = m_region;
    return 0;
}

int CSampleInstrument::SetArticulationParams(const pm::DMUS_ARTICPARAMS* params) {
    if (params == nullptr)
        throw CDMusicException(kArticulation, -1);
    m_articParams = *params;
    return 0;
}

int CSampleInstrument::GetArticulationParams(pm::DMUS_ARTICPARAMS* params) const {
    if (params == nullptr)
        throw CDMusicException(kArticulation, -1);
    *params = m_articParams;
    return 0;
}

void CSampleInstrument::SetWaveParams(pm::LONG attenuation, pm::SHORT fineTune,
                                      pm::USHORT unityNote, DWORD options) {
    m_lAttenuation = attenuation;
    m_sFineTune = fineTune;
    m_usUnityNote = unityNote;
    m_dwOptions = options;
}

void CSampleInstrument::GetWaveParams(pm::LONG* attenuation, pm::SHORT* fineTune,
                                      pm::USHORT* unityNote, DWORD* options) const {
    if (attenuation != nullptr)
        *attenuation = m_lAttenuation;
    if (fineTune != nullptr)
        *fineTune = m_sFineTune;
    if (unityNote != nullptr)
        *unityNote = m_usUnityNote;
    if (options != nullptr)
        *options = m_dwOptions;
}

pm::IPortDownload& CSampleInstrument::RequireDownload(const char* label) const {
    auto download = m_portDownload.lock();
    if (!download)
        throw CDMusicException(label, -1);
    // The output port holds the interface while the port is active; the caller is inside
    // one of its calls.
    return *download;
}

int CSampleInstrument::AllocateInstBuffer() {
    ThrowIfFailed(
        RequireDownload(kAllocateInst).AllocateBuffer(layout::kInstrumentBytes, &m_instBuffer),
        kAllocateInst);
    if (!m_instBuffer)
        throw CDMusicException(kAllocateInst, -1);
    return 0;
}

int CSampleInstrument::AllocateWaveBuffer(DWORD append) {
    pm::IPortDownload& download = RequireDownload(kAllocateWave);
    // append * block align + data + 64 must fit the 32-bit size; a wrapped size would give
    // a buffer too small for the data copied into it.
    const std::uint64_t size = std::uint64_t{append} * m_waveFormat.nBlockAlign + m_dwWaveSize + 64;
    if (size > std::numeric_limits<DWORD>::max())
        throw CDMusicException(kAllocateWave, pm::E_OUTOFMEMORY);
    ThrowIfFailed(download.AllocateBuffer(static_cast<DWORD>(size), &m_waveBuffer), kAllocateWave);
    if (!m_waveBuffer)
        throw CDMusicException(kAllocateWave, -1);
    return 0;
}

int CSampleInstrument::GetWaveBuffer(DWORD downloadId) {
    if (!m_waveBuffer)
        throw CDMusicException(kGetWaveBuffer, -1);
    BYTE* base = Bytes(*m_waveBuffer, layout::kWaveHeaderBytes + m_dwWaveSize, kGetWaveBuffer);

    pm::DMUS_DOWNLOADINFO info;
    info.dwDLType = pm::DMUS_DOWNLOADINFO_WAVE;
    info.dwDLId = downloadId;
    info.dwNumOffsetTableEntries = 2;
    void* data = nullptr;
    m_waveBuffer->GetBuffer(&data, &info.cbSize);
    Put(base, 0, info);
    Put(base, 16, layout::kWaveRecord);
    Put(base, 20, layout::kWaveData);
    pm::DMUS_WAVE_HEADER wave;
    wave.ulWaveDataIdx = 1;
    Put(base, layout::kWaveRecord, wave);
    // WAVEFORMATEX is 18 bytes here, packed.
    const DWORD f = layout::kWaveRecord + sizeof wave;
    Put(base, f + 0, m_waveFormat.wFormatTag);
    Put(base, f + 2, m_waveFormat.nChannels);
    Put(base, f + 4, m_waveFormat.nSamplesPerSec);
    Put(base, f + 8, m_waveFormat.nAvgBytesPerSec);
    Put(base, f + 12, m_waveFormat.nBlockAlign);
    Put(base, f + 14, m_waveFormat.wBitsPerSample);
    Put(base, f + 16, m_waveFormat.cbSize);
    Put(base, layout::kWaveData, m_dwWaveSize);

    BYTE* pcm = base + layout::kWaveHeaderBytes;
    if (m_bFromFile) {
        CWaveFile file;
        DWORD read = 0;
        ThrowIfFailed(file.Open(m_fileName, CWaveFile::Mode::Read, nullptr, {}, m_resources),
                      kGetWaveBuffer);
        ThrowIfFailed(file.Read(pcm, m_dwWaveSize, &read), kGetWaveBuffer);
        if (read != m_dwWaveSize)  // the file has shrunk since it was loaded
            throw CDMusicException(kGetWaveBuffer, pm::E_FAIL);
    } else if (m_dwWaveSize != 0) {
        if (m_pWaveData == nullptr)
            throw CDMusicException(kGetWaveBuffer, -1);
        std::memcpy(pcm, m_pWaveData, m_dwWaveSize);
    }
    return 0;
}

int CSampleInstrument::GetInstBuffer(DWORD downloadId) {
    if (!m_instBuffer)
        throw CDMusicException(kGetInstBuffer, -1);
    BYTE* base = Bytes(*m_instBuffer, layout::kInstrumentBytes, kGetInstBuffer);

    pm::DMUS_DOWNLOADINFO info;
    info.dwDLType = pm::DMUS_DOWNLOADINFO_INSTRUMENT;
    info.dwDLId = downloadId + 1;  // `downloadId` is the wave's
    info.dwNumOffsetTableEntries = 4;
    info.cbSize = layout::kInstrumentBytes;
    Put(base, 0, info);
    Put(base, 16, layout::kInstrument);
    Put(base, 20, layout::kRegion);
    Put(base, 24, layout::kArticulation);
    Put(base, 28, layout::kArticParams);

    pm::DMUS_INSTRUMENT instrument;
    instrument.ulPatch = m_dwPatch;
    instrument.ulFirstRegionIdx = 1;
    instrument.ulGlobalArtIdx = 2;
    Put(base, layout::kInstrument, instrument);

    pm::DMUS_REGION region;
    region.RangeKey = m_region.RangeKey;
    region.RangeVelocity = m_region.RangeVelocity;
    region.fusOptions = pm::F_RGN_OPTION_SELFNONEXCLUSIVE;
    region.WaveLink.ulChannel = 1;
    region.WaveLink.ulTableIndex = downloadId;
    region.WSMP.cbSize = sizeof(pm::WSMPL);
    region.WSMP.usUnityNote = m_usUnityNote;
    region.WSMP.sFineTune = m_sFineTune;
    region.WSMP.lAttenuation = m_lAttenuation;
    region.WSMP.fulOptions = m_dwOptions;
    region.WSMP.cSampleLoops = m_bLoop ? 1 : 0;
    region.Loops[0].cbSize = sizeof(pm::WLOOP);
    region.Loops[0].ulType = pm::WLOOP_TYPE_FORWARD;
    region.Loops[0].ulStart = 0;
    // A format without a block size loops nothing rather than dividing by zero.
    region.Loops[0].ulLength =
        m_waveFormat.nBlockAlign != 0 ? m_dwWaveSize / m_waveFormat.nBlockAlign : 0;
    Put(base, layout::kRegion, region);

    pm::DMUS_ARTICULATION articulation;
    articulation.ulArt1Idx = 3;
    Put(base, layout::kArticulation, articulation);
    Put(base, layout::kArticParams, m_articParams);
    return 0;
}

void CSampleInstrument::ReleaseBuffers() {
    m_waveBuffer.reset();
    m_instBuffer.reset();
}

}  // namespace musicport
