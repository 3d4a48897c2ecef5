#pragma once

#include <memory>

#include "musicport/CDirectMusic.h"
#include "musicport/MidiMsg.h"
#include "musicport/PortInfo.h"
#include "platform/music/IMusic.h"
#include "platform/music/IMusicBuffer.h"
#include "platform/music/IMusicPort.h"

namespace musicport {

// What input and output ports share: enumeration of the ports of one class, port
// parameters, activation with its event buffer, and property access. Not used on its own.
// Failures throw CDMusicException. No lock: the caller serialises calls on one object (the
// application holds its performance lock).
class CMidiPort {
public:
    virtual ~CMidiPort();
    CMidiPort(const CMidiPort&) = delete;
    CMidiPort& operator=(const CMidiPort&) = delete;

    // Borrows the music object of `music` (which must outlive this port); resets the port
    // parameters. Returns 0; -1 when `music` is not initialised.
    int Initialize(CDirectMusic& music);

    // Number of ports of this object's class the platform lists now.
    DWORD GetNumPorts();
    // Fills `info` for the portNumber-th port (1-based) of this object's class: S_OK, or
    // S_FALSE with `info` untouched when there is no such port (0 never names a port).
    HRESULT GetPortInfo(DWORD portNumber, PortInfo* info);
    // Fills `info` from the active port's capabilities; returns GetCaps' result.
    HRESULT GetActivatedPortInfo(PortInfo* info);

    // Parameters for the next activation; zero values are stored but not flagged valid.
    void SetPortParams(DWORD voices, DWORD audioChannels, DWORD channelGroups, DWORD effectFlags,
                       DWORD sampleRate);
    const platform::music::DMUS_PORTPARAMS8& GetPortParams() const { return m_portParams; }
    // The active port (null while inactive), e.g. as a thru destination. Owned here.
    platform::music::IMusicPort* GetPort() const { return m_port.get(); }

    // Replaces the event buffer by one for events of `eventSize` payload bytes. Returns 0.
    int SetBuffer(DWORD eventSize);
    // 0 when a buffer was released, 1 when there was none.
    int ReleaseBuffer();

    // Property request on the active port. Returns the property call's result, including
    // DMUS_E_UNKNOWN_PROPERTY for a port without the property; other failures throw.
    HRESULT KsProperty(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataLength,
                       ULONG* bytesReturned);

protected:
    // portClass: DMUS_PC_INPUTCLASS or DMUS_PC_OUTPUTCLASS.
    explicit CMidiPort(DWORD portClass);

    // Creates the port from info->guidPort (unless `fromInterface`: the derived class has
    // already put the port in m_port), activates it and creates the event buffer sized for
    // one event of `sysExSize` bytes. Returns 0. A failure after creation leaves the port
    // held; the derived class's DeactivatePort recovers.
    int ActivatePort(const PortInfo* info, DWORD sysExSize, BOOL fromInterface);

    // KsProperty with the caller's label in the exception.
    HRESULT PropertyCall(const char* label, const GUID& set, ULONG id, ULONG flags, void* data,
                         ULONG dataLength, ULONG* bytesReturned);

    const DWORD m_dwPortClass;
    std::unique_ptr<platform::music::IMusicPort> m_port;  // null while inactive
    // Null while inactive; shared with an input port's notification thread.
    std::shared_ptr<platform::music::IMusicBuffer> m_buffer;
    platform::music::IMusic* m_music = nullptr;  // borrowed from CDirectMusic
    platform::music::DMUS_PORTPARAMS8 m_portParams{};

private:
    // Walks EnumPort from index 0 counting ports of this class; stops at the `stopAt`-th
    // (0: never) with its caps in `caps`. Returns the count and whether it stopped.
    DWORD Walk(const char* label, DWORD stopAt, platform::music::DMUS_PORTCAPS& caps, bool& found);
};

// Fills `info` from `caps` (zeroed first; description converted to UTF-8).
void FillPortInfo(const platform::music::DMUS_PORTCAPS& caps, PortInfo& info);

}  // namespace musicport
