#pragma once

#include "musicport/CWaveFile.h"
#include "musicport/MidiMsg.h"

namespace musicport {

class CSampleInstrument;

// Loads a wave file into a sample instrument; the body of the loader's LoadWaveFile, which
// needs no loader object.
class CWaveFileLoader {
public:
    // Reads the format and size of `fileName` (or of the resource of that name, type "WAVE"
    // or "WAV"). With `fromFile` 0 the data are read into memory owned by the instrument;
    // otherwise only the name is kept and the data are read at allocation. Returns 0;
    // throws "CDLSLoader::LoadWaveFile()" with -1 for a null name, E_OUTOFMEMORY when the
    // reader or the data cannot be allocated, and the reader's failure (E_FAIL) otherwise.
    static int LoadWaveFile(const char* fileName, CSampleInstrument& instrument, DWORD fromFile,
                            const ResourceLookup& resources = {});
};

}  // namespace musicport
