#pragma once

#include <array>
#include <memory>

#include "musicport/MidiMsg.h"
#include "platform/music/IInstrument.h"
#include "platform/music/IPortDownload.h"

namespace musicport {

class CCollection;
class COutputPort;

// What EnumInstrument reports about one instrument of a collection.
struct InstrumentInfo {
    // UTF-8, NUL-terminated, at most 259 bytes, cut on a character boundary.
    std::array<char, 260> szInstName{};
    // Bits 0-7 program, 8-15 bank LSB, 16-23 bank MSB, bit 31 drum kit.
    DWORD dwPatchInCollection = 0;
};

// One instrument taken from a collection: the patch it answers once downloaded and the note
// range downloaded. At most one port holds it at a time; the destructor unloads it from there.
class CInstrument {
public:
    CInstrument() = default;
    ~CInstrument();
    CInstrument(const CInstrument&) = delete;
    CInstrument& operator=(const CInstrument&) = delete;

    // The patch the instrument answers on a port it is downloaded to afterwards. Returns 0.
    int SetPatch(DWORD patch);
    void SetNoteRange(DWORD low, DWORD high);
    void GetNoteRange(DWORD* low, DWORD* high) const;

    DWORD GetPatchInCollection() const { return m_dwPatchInCollection; }
    DWORD GetPatchOnPort() const { return m_dwPatchOnPort; }
    const char* GetName() const { return m_szName.data(); }
    bool IsDownloaded() const { return m_downloaded != nullptr; }

private:
    friend class CCollection;
    friend class COutputPort;

    platform::music::DMUS_NOTERANGE m_noteRange{0, 127};
    std::shared_ptr<platform::music::IDownloadedInstrument> m_downloaded;
    std::shared_ptr<platform::music::IInstrument> m_instrument;
    // The port it was last downloaded to; not kept alive by the instrument.
    std::weak_ptr<platform::music::IPortDownload> m_port;
    DWORD m_dwPatchInCollection = 0;
    DWORD m_dwPatchOnPort = 0;
    std::array<char, 260> m_szName{};
};

}  // namespace musicport
