#pragma once

// The 32-bit result codes of the music-port contract: success codes, the COM failures, the
// DirectMusic failures and the DirectSound failures that the layer can meet.

#include "platform/music/Types.h"

namespace platform::music {

constexpr HRESULT MakeResult(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}
constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
constexpr HRESULT E_POINTER = MakeResult(0x80004003);
constexpr HRESULT E_ABORT = MakeResult(0x80004004);
constexpr HRESULT E_FAIL = MakeResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeResult(0x800401F0);

// DirectMusic: facility 0x878, codes from 0x1000.
constexpr HRESULT MakeDirectMusicError(std::uint32_t code) {
    return MakeResult(0x88781000u | code);
}
constexpr HRESULT DMUS_E_DRIVER_FAILED = MakeDirectMusicError(0x0101);
constexpr HRESULT DMUS_E_PORTS_OPEN = MakeDirectMusicError(0x0102);
constexpr HRESULT DMUS_E_DEVICE_IN_USE = MakeDirectMusicError(0x0103);
constexpr HRESULT DMUS_E_INSUFFICIENTBUFFER = MakeDirectMusicError(0x0104);
constexpr HRESULT DMUS_E_BUFFERNOTSET = MakeDirectMusicError(0x0105);
constexpr HRESULT DMUS_E_BUFFERNOTAVAILABLE = MakeDirectMusicError(0x0106);
constexpr HRESULT DMUS_E_NOTADLSCOL = MakeDirectMusicError(0x0108);
constexpr HRESULT DMUS_E_INVALIDOFFSET = MakeDirectMusicError(0x0109);
constexpr HRESULT DMUS_E_ALREADY_LOADED = MakeDirectMusicError(0x0111);
constexpr HRESULT DMUS_E_INVALIDPOS = MakeDirectMusicError(0x0113);
constexpr HRESULT DMUS_E_INVALIDPATCH = MakeDirectMusicError(0x0114);
constexpr HRESULT DMUS_E_CANNOTSEEK = MakeDirectMusicError(0x0115);
constexpr HRESULT DMUS_E_CANNOTWRITE = MakeDirectMusicError(0x0116);
constexpr HRESULT DMUS_E_CHUNKNOTFOUND = MakeDirectMusicError(0x0117);
constexpr HRESULT DMUS_E_INVALID_DOWNLOADID = MakeDirectMusicError(0x0119);
constexpr HRESULT DMUS_E_NOT_DOWNLOADED_TO_PORT = MakeDirectMusicError(0x0120);
constexpr HRESULT DMUS_E_ALREADY_DOWNLOADED = MakeDirectMusicError(0x0121);
constexpr HRESULT DMUS_E_UNKNOWN_PROPERTY = MakeDirectMusicError(0x0122);
constexpr HRESULT DMUS_E_SET_UNSUPPORTED = MakeDirectMusicError(0x0123);
constexpr HRESULT DMUS_E_GET_UNSUPPORTED = MakeDirectMusicError(0x0124);
constexpr HRESULT DMUS_E_NOTMONO = MakeDirectMusicError(0x0125);
constexpr HRESULT DMUS_E_BADARTICULATION = MakeDirectMusicError(0x0126);
constexpr HRESULT DMUS_E_BADINSTRUMENT = MakeDirectMusicError(0x0127);
constexpr HRESULT DMUS_E_BADWAVELINK = MakeDirectMusicError(0x0128);
constexpr HRESULT DMUS_E_NOARTICULATION = MakeDirectMusicError(0x0129);
constexpr HRESULT DMUS_E_NOTPCM = MakeDirectMusicError(0x012A);
constexpr HRESULT DMUS_E_BADWAVE = MakeDirectMusicError(0x012B);
constexpr HRESULT DMUS_E_BADOFFSETTABLE = MakeDirectMusicError(0x012C);
constexpr HRESULT DMUS_E_UNKNOWNDOWNLOAD = MakeDirectMusicError(0x012D);
constexpr HRESULT DMUS_E_NOSYNTHSINK = MakeDirectMusicError(0x012E);
constexpr HRESULT DMUS_E_ALREADYOPEN = MakeDirectMusicError(0x012F);
constexpr HRESULT DMUS_E_ALREADYCLOSED = MakeDirectMusicError(0x0130);
constexpr HRESULT DMUS_E_SYNTHNOTCONFIGURED = MakeDirectMusicError(0x0131);
constexpr HRESULT DMUS_E_SYNTHACTIVE = MakeDirectMusicError(0x0132);
constexpr HRESULT DMUS_E_CANNOTREAD = MakeDirectMusicError(0x0133);
constexpr HRESULT DMUS_E_DMUSIC_RELEASED = MakeDirectMusicError(0x0134);
constexpr HRESULT DMUS_E_BUFFER_EMPTY = MakeDirectMusicError(0x0135);
constexpr HRESULT DMUS_E_BUFFER_FULL = MakeDirectMusicError(0x0136);
constexpr HRESULT DMUS_E_PORT_NOT_CAPTURE = MakeDirectMusicError(0x0137);
constexpr HRESULT DMUS_E_PORT_NOT_RENDER = MakeDirectMusicError(0x0138);
constexpr HRESULT DMUS_E_DSOUND_NOT_SET = MakeDirectMusicError(0x0139);
constexpr HRESULT DMUS_E_ALREADY_ACTIVATED = MakeDirectMusicError(0x013A);
constexpr HRESULT DMUS_E_INVALIDBUFFER = MakeDirectMusicError(0x013B);
constexpr HRESULT DMUS_E_WAVEFORMATNOTSUPPORTED = MakeDirectMusicError(0x013C);
constexpr HRESULT DMUS_E_SYNTHINACTIVE = MakeDirectMusicError(0x013D);
constexpr HRESULT DMUS_E_DSOUND_ALREADY_SET = MakeDirectMusicError(0x013E);
constexpr HRESULT DMUS_E_INVALID_EVENT = MakeDirectMusicError(0x013F);
constexpr HRESULT DMUS_E_NOT_INIT = MakeDirectMusicError(0x0166);
constexpr HRESULT DMUS_E_LOADER_NOCLASSID = MakeDirectMusicError(0x0170);
constexpr HRESULT DMUS_E_LOADER_BADPATH = MakeDirectMusicError(0x0171);
constexpr HRESULT DMUS_E_LOADER_FAILEDOPEN = MakeDirectMusicError(0x0172);
constexpr HRESULT DMUS_E_LOADER_FORMATNOTSUPPORTED = MakeDirectMusicError(0x0173);
constexpr HRESULT DMUS_E_LOADER_FAILEDCREATE = MakeDirectMusicError(0x0174);
constexpr HRESULT DMUS_E_LOADER_OBJECTNOTFOUND = MakeDirectMusicError(0x0175);
constexpr HRESULT DMUS_E_LOADER_NOFILENAME = MakeDirectMusicError(0x0176);

// DirectSound: facility 0x878, codes below 0x1000.
constexpr HRESULT MakeDirectSoundError(std::uint32_t code) {
    return MakeResult(0x88780000u | code);
}
constexpr HRESULT DSERR_ALLOCATED = MakeDirectSoundError(10);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MakeDirectSoundError(30);
constexpr HRESULT DSERR_INVALIDCALL = MakeDirectSoundError(50);
constexpr HRESULT DSERR_PRIOLEVELNEEDED = MakeDirectSoundError(70);
constexpr HRESULT DSERR_BADFORMAT = MakeDirectSoundError(100);
constexpr HRESULT DSERR_NODRIVER = MakeDirectSoundError(120);
constexpr HRESULT DSERR_ALREADYINITIALIZED = MakeDirectSoundError(130);
constexpr HRESULT DSERR_BUFFERLOST = MakeDirectSoundError(150);
constexpr HRESULT DSERR_OTHERAPPHASPRIO = MakeDirectSoundError(160);
constexpr HRESULT DSERR_UNINITIALIZED = MakeDirectSoundError(170);

}  // namespace platform::music
