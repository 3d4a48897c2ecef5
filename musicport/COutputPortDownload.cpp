// COutputPort's operations on sample instruments.

#include "musicport/CDMusicException.h"
#include "musicport/COutputPort.h"
#include "musicport/CSampleInstrument.h"
#include "musicport/ThrowIfFailed.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kAllocateMemory = "COutputPort::AllocateMemory()";
constexpr const char* kDownload = "COutputPort::DownloadInstrument(CSampleInstrument)";
constexpr const char* kUnload = "COutputPort::UnloadInstrument(CSampleInstrument)";
constexpr const char* kDeallocateMemory = "COutputPort::DeallocateMemory()";

}  // namespace

int COutputPort::AllocateMemory(CSampleInstrument& instrument) {
    if (!m_portDownload || instrument.m_instBuffer || instrument.m_waveBuffer ||
        !instrument.HasWave())
        throw CDMusicException(kAllocateMemory, -1);
    DWORD first = 0;
    ThrowIfFailed(m_portDownload->GetDLId(&first, 2), kAllocateMemory);
    instrument.m_portDownload = m_portDownload;
    DWORD append = 0;
    try {
        instrument.AllocateInstBuffer();
        ThrowIfFailed(m_portDownload->GetAppend(&append), kAllocateMemory);
        instrument.AllocateWaveBuffer(append);
        instrument.GetWaveBuffer(first);
        instrument.GetInstBuffer(first);
    } catch (...) {
        // Half-filled buffers would make the next AllocateMemory refuse with -1.
        instrument.ReleaseBuffers();
        throw;
    }
    return 0;
}

int COutputPort::DownloadInstrument(CSampleInstrument& instrument) {
    if (!m_portDownload || !instrument.m_waveBuffer || !instrument.m_instBuffer)
        throw CDMusicException(kDownload, -1);
    ThrowIfFailed(m_portDownload->Download(*instrument.m_waveBuffer), kDownload);
    const HRESULT hr = m_portDownload->Download(*instrument.m_instBuffer);
    if (pm::Failed(hr)) {
        // Without its instrument the wave would stay in sample memory for nothing.
        m_portDownload->Unload(*instrument.m_waveBuffer);
        throw CDMusicException(kDownload, hr);
    }
    return 0;
}

int COutputPort::UnloadInstrument(CSampleInstrument& instrument) {
    if (!m_portDownload || !instrument.m_waveBuffer || !instrument.m_instBuffer)
        throw CDMusicException(kUnload, -1);
    // Both are taken back even when the first fails; the first failure is thrown.
    const HRESULT wave = m_portDownload->Unload(*instrument.m_waveBuffer);
    const HRESULT inst = m_portDownload->Unload(*instrument.m_instBuffer);
    ThrowIfFailed(wave, kUnload);
    ThrowIfFailed(inst, kUnload);
    return 0;
}

int COutputPort::DeallocateMemory(CSampleInstrument& instrument) {
    if (!instrument.m_waveBuffer || !instrument.m_instBuffer)
        throw CDMusicException(kDeallocateMemory, -1);
    instrument.ReleaseBuffers();
    return 0;
}

}  // namespace musicport
