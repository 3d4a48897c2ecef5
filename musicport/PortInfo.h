#pragma once

#include <array>

#include "musicport/MidiMsg.h"

namespace musicport {

// One enumerated port, filled from the platform's port capabilities. Value-initialise it
// (`PortInfo info{}`) for an all-zero record.
struct PortInfo {
    // UTF-8, NUL-terminated, at most 127 bytes, cut on a character boundary.
    std::array<char, 128> szPortDescription{};
    DWORD dwFlags = 0;  // DMUS_PC_* capability flags
    DWORD dwClass = 0;  // DMUS_PC_INPUTCLASS or DMUS_PC_OUTPUTCLASS
    DWORD dwType = 0;   // DMUS_PORT_*
    DWORD dwMemorySize = 0;
    DWORD dwMaxAudioChannels = 0;
    DWORD dwMaxVoices = 0;
    DWORD dwMaxChannelGroups = 0;
    DWORD dwEffectFlags = 0;  // DMUS_EFFECT_* the port supports
    GUID guidPort;            // what CreatePort is given to open this port
};

}  // namespace musicport
