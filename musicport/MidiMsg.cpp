#include "musicport/MidiMsg.h"

namespace musicport {
namespace {

void Store(BYTE* target, DWORD value) {
    if (target != nullptr)
        *target = static_cast<BYTE>(value & 0xFF);
}

}  // namespace

DWORD MakeMidiMsg(BYTE command, BYTE channel, BYTE data1, BYTE data2) {
    return DWORD(command | channel) | DWORD{data1} << 8 | DWORD{data2} << 16;
}

DWORD MakeMidiMsg(BYTE status, BYTE data1, BYTE data2) {
    return DWORD{status} | DWORD{data1} << 8 | DWORD{data2} << 16;
}

void SplitMidiMsg(DWORD msg, BYTE* status, BYTE* data1, BYTE* data2) {
    Store(status, msg);
    Store(data1, msg >> 8);
    Store(data2, msg >> 16);
}

void SplitMidiMsg(DWORD msg, BYTE* command, BYTE* channel, BYTE* data1, BYTE* data2) {
    Store(command, msg & 0xF0);
    Store(channel, msg & 0x0F);
    Store(data1, msg >> 8);
    Store(data2, msg >> 16);
}

}  // namespace musicport
