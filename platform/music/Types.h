#pragma once

// Plain data of the music-port contract: the fixed-width integer names, GUIDs and the records
// that cross the contract, laid out field for field as the music-port layer expects them.

#include <array>
#include <cstdint>

namespace platform::music {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
// Time in 100-nanosecond units on a port's clock.
using REFERENCE_TIME = std::int64_t;
// Opaque handle of the window that owns the music object; never dereferenced here.
using WindowHandle = void*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct GUID {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

constexpr GUID GUID_NULL{};
// Property set of the synthesizer's reverb and chorus switch.
constexpr GUID GUID_DMUS_PROP_Effects{
    0xCDA8D611, 0x684A, 0x11D2, {0x87, 0x1E, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};

// Port classes.
constexpr DWORD DMUS_PC_INPUTCLASS = 0;
constexpr DWORD DMUS_PC_OUTPUTCLASS = 1;

// Port capability flags.
constexpr DWORD DMUS_PC_DLS = 0x00000001;
constexpr DWORD DMUS_PC_EXTERNAL = 0x00000002;
constexpr DWORD DMUS_PC_SOFTWARESYNTH = 0x00000004;
constexpr DWORD DMUS_PC_MEMORYSIZEFIXED = 0x00000008;
constexpr DWORD DMUS_PC_GMINHARDWARE = 0x00000010;
constexpr DWORD DMUS_PC_GSINHARDWARE = 0x00000020;
constexpr DWORD DMUS_PC_XGINHARDWARE = 0x00000040;
constexpr DWORD DMUS_PC_DIRECTSOUND = 0x00000080;
constexpr DWORD DMUS_PC_SHAREABLE = 0x00000100;
constexpr DWORD DMUS_PC_DLS2 = 0x00000200;
constexpr DWORD DMUS_PC_AUDIOPATH = 0x00000400;
constexpr DWORD DMUS_PC_WAVE = 0x00000800;

// Port types.
constexpr DWORD DMUS_PORT_WINMM_DRIVER = 0;
constexpr DWORD DMUS_PORT_USER_MODE_SYNTH = 1;
constexpr DWORD DMUS_PORT_KERNEL_MODE = 2;

// Effect flags.
constexpr DWORD DMUS_EFFECT_NONE = 0x0;
constexpr DWORD DMUS_EFFECT_REVERB = 0x1;
constexpr DWORD DMUS_EFFECT_CHORUS = 0x2;

// Valid-parameter flags of DMUS_PORTPARAMS8.
constexpr DWORD DMUS_PORTPARAMS_VOICES = 0x01;
constexpr DWORD DMUS_PORTPARAMS_CHANNELGROUPS = 0x02;
constexpr DWORD DMUS_PORTPARAMS_AUDIOCHANNELS = 0x04;
constexpr DWORD DMUS_PORTPARAMS_SAMPLERATE = 0x08;
constexpr DWORD DMUS_PORTPARAMS_EFFECTS = 0x20;
constexpr DWORD DMUS_PORTPARAMS_SHARE = 0x40;
constexpr DWORD DMUS_PORTPARAMS_FEATURES = 0x80;

// Kernel-streaming property request flags.
constexpr ULONG KSPROPERTY_TYPE_GET = 0x1;
constexpr ULONG KSPROPERTY_TYPE_SET = 0x2;

// Description of one port as the enumeration gives it (308 bytes).
struct DMUS_PORTCAPS {
    DWORD dwSize = 0;
    DWORD dwFlags = 0;
    GUID guidPort;
    DWORD dwClass = 0;
    DWORD dwType = 0;
    DWORD dwMemorySize = 0;
    DWORD dwMaxChannelGroups = 0;
    DWORD dwMaxVoices = 0;
    DWORD dwMaxAudioChannels = 0;
    DWORD dwEffectFlags = 0;
    std::array<char16_t, 128> wszDescription{};  // UTF-16, NUL-terminated
};
static_assert(sizeof(DMUS_PORTCAPS) == 308);

// What a port is asked for when it is created; the port may write granted values back.
struct DMUS_PORTPARAMS8 {
    DWORD dwSize = 0;
    DWORD dwValidParams = 0;
    DWORD dwVoices = 0;
    DWORD dwChannelGroups = 0;
    DWORD dwAudioChannels = 0;
    DWORD dwSampleRate = 0;
    DWORD dwEffectFlags = 0;
    BOOL fShare = 0;
    DWORD dwFeatures = 0;
};
static_assert(sizeof(DMUS_PORTPARAMS8) == 36);

struct DMUS_BUFFERDESC {
    DWORD dwSize = 0;
    DWORD dwFlags = 0;
    GUID guidBufferFormat;
    DWORD cbBuffer = 0;
};
static_assert(sizeof(DMUS_BUFFERDESC) == 28);

// Bytes one event of `payload` bytes takes in an event buffer: a 20-byte header plus the
// payload, rounded up to a multiple of 8.
constexpr DWORD DMUS_EVENT_SIZE(DWORD payload) {
    return (payload + 20 + 7) & ~DWORD{7};
}

struct KSPROPERTY {
    GUID Set;
    ULONG Id = 0;
    ULONG Flags = 0;
};
static_assert(sizeof(KSPROPERTY) == 24);

struct DMUS_SYNTHSTATS8 {
    DWORD dwSize = 0;
    DWORD dwValidStats = 0;
    DWORD dwVoices = 0;
    DWORD dwTotalCPU = 0;
    DWORD dwCPUPerVoice = 0;
    DWORD dwLostNotes = 0;
    DWORD dwFreeMemory = 0;
    LONG lPeakVolume = 0;
    DWORD dwSynthMemUse = 0;
};
static_assert(sizeof(DMUS_SYNTHSTATS8) == 36);

constexpr DWORD DMUS_SYNTHSTATS_VOICES = 0x01;
constexpr DWORD DMUS_SYNTHSTATS_TOTAL_CPU = 0x02;
constexpr DWORD DMUS_SYNTHSTATS_CPU_PER_VOICE = 0x04;
constexpr DWORD DMUS_SYNTHSTATS_LOST_NOTES = 0x08;
constexpr DWORD DMUS_SYNTHSTATS_PEAK_VOLUME = 0x10;
constexpr DWORD DMUS_SYNTHSTATS_FREE_MEMORY = 0x20;

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;

}  // namespace platform::music
