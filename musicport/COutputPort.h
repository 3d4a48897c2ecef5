#pragma once

#include <memory>
#include <source_location>

#include "musicport/CMidiPort.h"
#include "platform/music/IPortDownload.h"
#include "platform/music/IReferenceClock.h"

namespace musicport {

class CInstrument;
class CSampleInstrument;
class CSegment;

// The output side: activates an output port and sends MIDI messages through it at once.
// Active exactly while the latency clock is held. One event buffer is shared by all
// senders, so sends must not overlap (the application sends under its performance lock).
class COutputPort : public CMidiPort {
public:
    COutputPort();
    ~COutputPort() override;

    // Opens, activates and buffers the port `info` names; returns 0. Throws -1 when the
    // port is already active (the active port keeps working).
    int ActivatePort(const PortInfo* info, DWORD sysExSize);
    // Takes over an already opened port and activates it; returns 0. Throws -1 for a null
    // port or while a port is held (the held one is kept; `port` is released).
    int ActivatePortFromInterface(std::unique_ptr<platform::music::IMusicPort> port,
                                  DWORD sysExSize);
    // Switches the port off and releases it with its buffer, clock and download interface.
    // Returns Activate(FALSE)'s result, or -1 when no port was held. Never throws.
    HRESULT DeactivatePort();

    // Sends one short message (MakeMidiMsg) on `channelGroup` now. Returns 0.
    int SendMidiMsg(DWORD msg, DWORD channelGroup);
    // Sends raw bytes (system exclusive) now; they must fit the buffer sized at activation.
    // Returns 0.
    int SendMidiMsg(const BYTE* data, DWORD length, DWORD channelGroup);

    // Reverb (DMUS_EFFECT_REVERB) and chorus (DMUS_EFFECT_CHORUS) on or off; a port without
    // the effects property is accepted silently. Returns 0.
    int SetEffect(BYTE effects);

    // Downloads `instrument` with its note range: -1 (no throw) when the port is not active or
    // the instrument holds nothing. A port without downloadable sounds throws E_NOINTERFACE.
    // Returns 0.
    int DownloadInstrument(CInstrument& instrument);
    // Unloads it: -1 (no throw) when the port is not active or it is not downloaded. Returns 0.
    int UnloadInstrument(CInstrument& instrument);

    int CompactMemory();
    // Returns the platform's result unchanged (not thrown).
    HRESULT GetChannelPriority(DWORD channelGroup, DWORD channel, DWORD* priority);
    int SetChannelPriority(DWORD channelGroup, DWORD channel, DWORD priority);
    int GetSynthStats(platform::music::DMUS_SYNTHSTATS8* stats);
    int GetFormat(platform::music::WAVEFORMATEX* format, DWORD* formatSize, DWORD* bufferSize);
    int GetNumChannelGroups(DWORD* count);
    int SetNumChannelGroups(DWORD count);

    // Sample instruments (a port with downloadable sounds; others throw -1). AllocateMemory
    // fills the instrument's wave and instrument buffers in the port's sample memory,
    // DownloadInstrument downloads wave then instrument, UnloadInstrument takes both back,
    // DeallocateMemory releases the buffers. Each returns 0.
    int AllocateMemory(CSampleInstrument& instrument);
    int DownloadInstrument(CSampleInstrument& instrument);
    int UnloadInstrument(CSampleInstrument& instrument);
    int DeallocateMemory(CSampleInstrument& instrument);

    // The active port's latency clock, null while inactive. Owned here.
    platform::music::IReferenceClock* GetLatencyClock() const { return m_latencyClock.get(); }
    // The active port's sample download interface, null when it offers none. Owned here.
    platform::music::IPortDownload* GetPortDownload() const { return m_portDownload.get(); }

private:
    friend class CSegment;  // downloads to and plays on the active port

    void AcquireClockAndDownload(const char* label);
    void PlayAndFlush(const char* label,
                      std::source_location where = std::source_location::current());
    // The held port or, without one, a -1 throw with `label`.
    platform::music::IMusicPort& RequirePort(
        const char* label, std::source_location where = std::source_location::current());

    std::shared_ptr<platform::music::IReferenceClock> m_latencyClock;
    std::shared_ptr<platform::music::IPortDownload> m_portDownload;
};

}  // namespace musicport
