#pragma once

// Packing of MIDI short messages: status in bits 0-7, first data byte in bits 8-15, second
// data byte in bits 16-23, bits 24-31 zero.

#include "platform/music/Types.h"

namespace musicport {

using platform::music::BOOL;
using platform::music::BYTE;
using platform::music::DWORD;
using platform::music::GUID;
using platform::music::HRESULT;
using platform::music::REFERENCE_TIME;
using platform::music::ULONG;
using platform::music::WORD;

// `command` is expected with a zero low nibble and `channel` below 16; neither is masked.
DWORD MakeMidiMsg(BYTE command, BYTE channel, BYTE data1, BYTE data2);
DWORD MakeMidiMsg(BYTE status, BYTE data1, BYTE data2);

// Null out-pointers are skipped.
void SplitMidiMsg(DWORD msg, BYTE* status, BYTE* data1, BYTE* data2);
void SplitMidiMsg(DWORD msg, BYTE* command, BYTE* channel, BYTE* data1, BYTE* data2);

}  // namespace musicport
