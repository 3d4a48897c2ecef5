#pragma once

// Records of the low-level sample download: a wave buffer and an instrument buffer, each a
// DMUS_DOWNLOADINFO, an offset table and the records the table points at, laid out as the
// DLS download format has them (little-endian, 4-byte fields, no padding inside a record).
// Records are copied into and out of download buffers with std::memcpy at their offsets.

#include <cstdint>

#include "platform/music/Types.h"

namespace platform::music {

using USHORT = std::uint16_t;
using SHORT = std::int16_t;

constexpr DWORD DMUS_DOWNLOADINFO_INSTRUMENT = 1;
constexpr DWORD DMUS_DOWNLOADINFO_WAVE = 2;

struct DMUS_DOWNLOADINFO {
    DWORD dwDLType = 0;
    DWORD dwDLId = 0;
    DWORD dwNumOffsetTableEntries = 0;
    DWORD cbSize = 0;
};
static_assert(sizeof(DMUS_DOWNLOADINFO) == 16);

struct RGNRANGE {
    USHORT usLow = 0;
    USHORT usHigh = 0;
};
static_assert(sizeof(RGNRANGE) == 4);

struct DMUS_INSTRUMENT {
    ULONG ulPatch = 0;
    ULONG ulFirstRegionIdx = 0;
    ULONG ulGlobalArtIdx = 0;
    ULONG ulFirstExtCkIdx = 0;
    ULONG ulCopyrightIdx = 0;
    ULONG ulFlags = 0;
};
static_assert(sizeof(DMUS_INSTRUMENT) == 24);

constexpr USHORT F_RGN_OPTION_SELFNONEXCLUSIVE = 0x0001;
constexpr ULONG WLOOP_TYPE_FORWARD = 0;

struct WAVELINK {
    USHORT fusOptions = 0;
    USHORT usPhaseGroup = 0;
    ULONG ulChannel = 0;
    ULONG ulTableIndex = 0;
};
static_assert(sizeof(WAVELINK) == 12);

struct WSMPL {
    ULONG cbSize = 0;
    USHORT usUnityNote = 0;
    SHORT sFineTune = 0;    // cents
    LONG lAttenuation = 0;  // gain in 1/65536 centibels: negative is quieter
    ULONG fulOptions = 0;
    ULONG cSampleLoops = 0;
};
static_assert(sizeof(WSMPL) == 20);

struct WLOOP {
    ULONG cbSize = 0;
    ULONG ulType = 0;
    ULONG ulStart = 0;   // sample frames
    ULONG ulLength = 0;  // sample frames
};
static_assert(sizeof(WLOOP) == 16);

struct DMUS_REGION {
    RGNRANGE RangeKey;
    RGNRANGE RangeVelocity;
    USHORT fusOptions = 0;
    USHORT usKeyGroup = 0;
    ULONG ulRegionArtIdx = 0;
    ULONG ulNextRegionIdx = 0;
    ULONG ulFirstExtCkIdx = 0;
    WAVELINK WaveLink;
    WSMPL WSMP;
    WLOOP Loops[1];  // the WLOOP records (one here)
};
static_assert(sizeof(DMUS_REGION) == 72);

struct DMUS_ARTICULATION {
    ULONG ulArt1Idx = 0;
    ULONG ulFirstExtCkIdx = 0;
};
static_assert(sizeof(DMUS_ARTICULATION) == 8);

// Articulation values in the DLS units: time cents, pitch cents, gain units and percent
// units, each scaled by 65536 (see the layer's unit conversions).
struct DMUS_LFOPARAMS {
    LONG pcFrequency = 0;
    LONG tcDelay = 0;
    LONG gcVolumeScale = 0;
    LONG pcPitchScale = 0;
    LONG gcMWToVolume = 0;
    LONG pcMWToPitch = 0;
};

struct DMUS_VEGPARAMS {
    LONG tcAttack = 0;
    LONG tcDecay = 0;
    LONG ptSustain = 0;
    LONG tcRelease = 0;
    LONG tcVel2Attack = 0;
    LONG tcKey2Decay = 0;
};

struct DMUS_PEGPARAMS {
    LONG tcAttack = 0;
    LONG tcDecay = 0;
    LONG ptSustain = 0;
    LONG tcRelease = 0;
    LONG tcVel2Attack = 0;
    LONG tcKey2Decay = 0;
    LONG pcRange = 0;
};

struct DMUS_MSCPARAMS {
    LONG ptDefaultPan = 0;
};

struct DMUS_ARTICPARAMS {
    DMUS_LFOPARAMS LFO;
    DMUS_VEGPARAMS VolEG;
    DMUS_PEGPARAMS PitchEG;
    DMUS_MSCPARAMS Misc;
};
static_assert(sizeof(DMUS_ARTICPARAMS) == 80);

// DMUS_WAVE: three indices followed by an 18-byte WAVEFORMATEX (written field by field).
struct DMUS_WAVE_HEADER {
    ULONG ulFirstExtCkIdx = 0;
    ULONG ulCopyrightIdx = 0;
    ULONG ulWaveDataIdx = 0;
};
constexpr DWORD kWaveFormatBytes = 18;

// Fixed offsets of the two buffers as the layer fills them.
namespace download_layout {
constexpr DWORD kWaveRecord = 24;  // after the info and a 2-entry offset table
constexpr DWORD kWaveData = 56;    // DMUS_WAVEDATA: byte count, then the PCM bytes
constexpr DWORD kWaveHeaderBytes = kWaveData + 4;
constexpr DWORD kInstrument = 32;  // after the info and a 4-entry offset table
constexpr DWORD kRegion = 56;
constexpr DWORD kArticulation = 128;
constexpr DWORD kArticParams = 136;
constexpr DWORD kInstrumentBytes = 216;
static_assert(kInstrument + sizeof(DMUS_INSTRUMENT) == kRegion);
static_assert(kRegion + sizeof(DMUS_REGION) == kArticulation);
static_assert(kArticulation + sizeof(DMUS_ARTICULATION) == kArticParams);
static_assert(kArticParams + sizeof(DMUS_ARTICPARAMS) == kInstrumentBytes);
static_assert(kWaveRecord + sizeof(DMUS_WAVE_HEADER) + kWaveFormatBytes <= kWaveData);
}  // namespace download_layout

}  // namespace platform::music
