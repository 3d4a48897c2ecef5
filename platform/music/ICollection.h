#pragma once

#include <memory>

#include "platform/music/IInstrument.h"
#include "platform/music/Types.h"

namespace platform::music {

// A loaded instrument collection (a SoundFont or DLS file).
class ICollection {
public:
    virtual ~ICollection() = default;
    // Patch and NUL-terminated UTF-16 name (cut to nameLength - 1 units) of the instrument at
    // a 0-based position; S_FALSE past the end, leaving the outputs untouched.
    virtual HRESULT EnumInstrument(DWORD index, DWORD* patch, char16_t* name, DWORD nameLength) = 0;
    // The instrument with that patch; DMUS_E_INVALIDPATCH when the collection has none.
    virtual HRESULT GetInstrument(DWORD patch, std::shared_ptr<IInstrument>* instrument) = 0;
};

}  // namespace platform::music
