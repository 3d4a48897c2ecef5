#pragma once

#include <memory>
#include <string>
#include <vector>

#include "musicport/CWaveFile.h"
#include "musicport/MidiMsg.h"
#include "platform/music/DownloadTypes.h"
#include "platform/music/IDownload.h"
#include "platform/music/IPortDownload.h"

namespace musicport {

class COutputPort;

// Key range and velocity range of a sample instrument's one region (bounds included).
struct SampleRegion {
    platform::music::RGNRANGE RangeKey;
    platform::music::RGNRANGE RangeVelocity;
};

// An instrument made of one wave, downloaded to a port through its sample memory:
// COutputPort::AllocateMemory fills a wave buffer and an instrument buffer from this
// object, DownloadInstrument hands them to the port, and the port then plays the wave on
// the patch given with SetPatch for notes and velocities inside the region. The wave comes
// from the caller (SetWaveForm: the caller keeps the bytes alive), from memory read by
// LoadWaveFile, or from the remembered file read again at allocation. Failures throw
// CDMusicException. No lock: one thread at a time.
class CSampleInstrument {
public:
    CSampleInstrument();
    // Unloads both buffers from the port they were allocated on (if it still exists),
    // releases them and frees owned wave data.
    ~CSampleInstrument();
    CSampleInstrument(const CSampleInstrument&) = delete;
    CSampleInstrument& operator=(const CSampleInstrument&) = delete;

    void SetPatch(DWORD patch) { m_dwPatch = patch; }
    DWORD GetPatch() const { return m_dwPatch; }

    // Uses the caller's `size` bytes of wave data in `format` (not copied, never freed
    // here). Returns 0.
    int SetWaveForm(BYTE* data, const platform::music::WAVEFORMATEX* format, DWORD size);
    // Pointer (may be null), format and size of the wave. Returns 0.
    int GetWaveForm(BYTE** data, platform::music::WAVEFORMATEX* format, DWORD* size) const;

    int SetRegion(const SampleRegion* region);
    int GetRegion(SampleRegion* region) const;
    int SetArticulationParams(const platform::music::DMUS_ARTICPARAMS* params);
    int GetArticulationParams(platform::music::DMUS_ARTICPARAMS* params) const;

    // Whether the whole wave loops while the note is held.
    void SetLoop(BOOL loop) { m_bLoop = loop; }
    // Attenuation in gain units (negative is quieter), fine tune in cents, the MIDI note at
    // which the wave plays unchanged, and the WSMPL options.
    void SetWaveParams(platform::music::LONG attenuation, platform::music::SHORT fineTune,
                       platform::music::USHORT unityNote, DWORD options);
    void GetWaveParams(platform::music::LONG* attenuation, platform::music::SHORT* fineTune,
                       platform::music::USHORT* unityNote, DWORD* options) const;
    DWORD GetWaveSize() const { return m_dwWaveSize; }

    // The steps of COutputPort::AllocateMemory, in this order; each returns 0. Both Get
    // steps take the wave's download id n; the instrument is downloaded as n + 1.
    int AllocateInstBuffer();
    int AllocateWaveBuffer(DWORD append);
    int GetWaveBuffer(DWORD downloadId);
    int GetInstBuffer(DWORD downloadId);

private:
    friend class COutputPort;
    friend class CWaveFileLoader;

    bool HasWave() const { return m_bWaveLoaded || m_bCallerData; }
    platform::music::IPortDownload& RequireDownload(const char* label) const;
    void ReleaseBuffers();

    SampleRegion m_region{};
    platform::music::DMUS_ARTICPARAMS m_articParams{};
    platform::music::WAVEFORMATEX m_waveFormat{};
    BYTE* m_pWaveData = nullptr;
    DWORD m_dwWaveSize = 0;
    DWORD m_dwPatch = 0;
    BOOL m_bFromFile = 0;
    BOOL m_bWaveLoaded = 0;
    BOOL m_bCallerData = 0;
    BOOL m_bLoop = 0;
    platform::music::LONG m_lAttenuation = 0;
    platform::music::SHORT m_sFineTune = 0;
    platform::music::USHORT m_usUnityNote = 0;
    DWORD m_dwOptions = 0;
    std::string m_fileName;
    ResourceLookup m_resources;     // where m_fileName is looked up when no file has it
    std::vector<BYTE> m_ownedData;  // wave data read by LoadWaveFile; m_pWaveData points here
    std::shared_ptr<platform::music::IDownload> m_instBuffer;
    std::shared_ptr<platform::music::IDownload> m_waveBuffer;
    // The port's download interface; weak so that an instrument outliving its port's
    // activation never calls into a released interface.
    std::weak_ptr<platform::music::IPortDownload> m_portDownload;
};

}  // namespace musicport
