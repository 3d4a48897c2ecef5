#pragma once

#include "musicport/CWaveFile.h"
#include "musicport/MidiMsg.h"

namespace musicport {

class CSegment;

// Loads Standard MIDI Files (formats 0 and 1) as segments; the bodies of the loader's
// LoadSegment and LoadSegmentFromResource, which need no loader object.
class CSegmentLoader {
public:
    // Files larger than this are refused (E_OUTOFMEMORY) before they are read.
    static constexpr std::size_t kMaxFileBytes = 64u * 1024u * 1024u;

    // Releases what `segment` held, then reads the file. `midiFile` marks the content as a
    // Standard MIDI File (the only content read here). Returns 0; throws
    // "CDLSLoader::LoadSegment()" with -1 for a null name, DMUS_E_LOADER_FAILEDOPEN when
    // the file cannot be read and DMUS_E_LOADER_FORMATNOTSUPPORTED when it is not a valid
    // MIDI file of format 0 or 1.
    static int LoadSegment(const char* fileName, CSegment& segment, BOOL midiFile);
    // The same from a program resource; every failure to find or read it gives E_FAIL.
    static int LoadSegmentFromResource(const char* name, const char* type, CSegment& segment,
                                       BOOL midiFile, const ResourceLookup& resources);
};

}  // namespace musicport
