#pragma once

#include <memory>

#include "musicport/CInstrument.h"
#include "platform/music/ICollection.h"

namespace musicport {

class CDLSLoader;

// One loaded instrument collection: its instruments by position, and taking one out.
class CCollection {
public:
    CCollection() = default;
    CCollection(const CCollection&) = delete;
    CCollection& operator=(const CCollection&) = delete;

    // S_OK with `info` filled, S_FALSE past the end (info untouched), or another failure code
    // of the platform returned unchanged; E_FAIL, E_OUTOFMEMORY and E_POINTER throw, as does
    // -1 without a collection or record.
    HRESULT EnumInstrument(DWORD index, InstrumentInfo* info);
    // Takes the instrument `info` describes into `instrument` (replacing what it held).
    // Returns 0.
    int GetInstrument(CInstrument& instrument, const InstrumentInfo* info);
    // The same for the instrument at a position. Returns 0.
    int GetInstrument(CInstrument& instrument, int index);

    bool IsLoaded() const { return m_collection != nullptr; }

private:
    friend class CDLSLoader;
    friend class CSegment;
    std::shared_ptr<platform::music::ICollection> m_collection;
};

}  // namespace musicport
