#pragma once

#include "musicport/MidiMsg.h"

namespace musicport {

// What the application implements to receive input: called on the input port's notification
// thread, one event at a time, in arrival order. Whatever it shares with other threads it
// protects itself; it should hand events on rather than wait for locks the GUI holds.
class CMidiReceiver {
public:
    virtual ~CMidiReceiver() = default;
    // One message of 1 to 3 bytes packed as MakeMidiMsg packs it (higher bytes zero).
    virtual void ReceiveMidiMsg(REFERENCE_TIME time, DWORD channelGroup, DWORD msg) = 0;
    // A longer event (system exclusive); `data` is valid only during the call.
    virtual void ReceiveMidiMsg(REFERENCE_TIME time, DWORD channelGroup, DWORD length,
                                const BYTE* data) = 0;
};

}  // namespace musicport
