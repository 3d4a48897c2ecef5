#pragma once

#include <string>
#include <string_view>

#include "platform/midi/MidiApi.h"
#include "platform/music/Types.h"

namespace platform::midi {

// Port GUIDs derived from the API and the port's own name: the same port keeps its
// identifier across runs and listings.
music::GUID PortGuid(MidiApi api, music::DWORD portClass, std::string_view portName);

// The capability record of one external port: "<API>: <name>", driver type, no DLS, one
// channel group.
music::DMUS_PORTCAPS ExternalPortCaps(MidiApi api, music::DWORD portClass,
                                      std::string_view portName);

// True for the ports of this program's own clients.
bool IsOwnPort(std::string_view portName);

}  // namespace platform::midi
