#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// Bit 31 of a patch number: the instrument is a drum kit.
constexpr DWORD F_INSTRUMENT_DRUMS = 0x80000000;

// A patch number: bits 0-7 program, 8-15 bank LSB, 16-23 bank MSB, bit 31 drum kit.
constexpr DWORD MakePatch(DWORD bankMsb, DWORD bankLsb, DWORD program, bool drums) {
    return (drums ? F_INSTRUMENT_DRUMS : 0) | (bankMsb & 0x7F) << 16 | (bankLsb & 0x7F) << 8 |
           (program & 0x7F);
}

// One instrument taken from a collection. SetPatch gives it the patch it answers on a port
// it is downloaded to afterwards.
class IInstrument {
public:
    virtual ~IInstrument() = default;
    virtual HRESULT GetPatch(DWORD* patch) = 0;
    virtual HRESULT SetPatch(DWORD patch) = 0;
};

// An instrument downloaded to a port; handed back to the port to unload it.
class IDownloadedInstrument {
public:
    virtual ~IDownloadedInstrument() = default;
};

struct DMUS_NOTERANGE {
    DWORD dwLowNote = 0;
    DWORD dwHighNote = 127;
};

}  // namespace platform::music
