#include "musicport/CInstrument.h"

#include "musicport/CDMusicException.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kSetPatch = "CInstrument::SetPach()";
}  // namespace

CInstrument::~CInstrument() {
    if (m_downloaded) {
        if (const auto port = m_port.lock())
            port->UnloadInstrument(*m_downloaded);
    }
}

int CInstrument::SetPatch(DWORD patch) {
    if (!m_instrument)
        throw CDMusicException(kSetPatch, -1);
    const HRESULT hr = m_instrument->SetPatch(patch);
    if (pm::Failed(hr))
        throw CDMusicException(kSetPatch, hr);
    m_dwPatchOnPort = patch;
    return 0;
}

void CInstrument::SetNoteRange(DWORD low, DWORD high) {
    m_noteRange.dwLowNote = low;
    m_noteRange.dwHighNote = high;
}

void CInstrument::GetNoteRange(DWORD* low, DWORD* high) const {
    if (low != nullptr)
        *low = m_noteRange.dwLowNote;
    if (high != nullptr)
        *high = m_noteRange.dwHighNote;
}

}  // namespace musicport
