#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "musicport/CCollection.h"
#include "musicport/CWaveFile.h"
#include "platform/music/IMusicLoader.h"
#include "platform/music/IMusicSystem.h"

namespace musicport {

class CSampleInstrument;
class CSegment;

// Loads instrument collections: from a file, the system's default General MIDI collection, or
// a resource of the program. The loader caches what it loaded until UnloadCollection.
class CDLSLoader {
public:
    // Finds a resource of the program by name and type: its bytes, which must stay valid for
    // the program's life, or nothing.
    using ResourceFinder =
        std::function<std::optional<std::span<const BYTE>>(std::string_view, std::string_view)>;

    explicit CDLSLoader(platform::music::IMusicSystem& system);
    ~CDLSLoader();
    CDLSLoader(const CDLSLoader&) = delete;
    CDLSLoader& operator=(const CDLSLoader&) = delete;

    // Creates the platform's loader. Returns 0.
    int Initialize();
    // Loads the file at `path` (UTF-8), or the default General MIDI collection for a null path,
    // into `collection`, releasing what it held first. Returns 0.
    int LoadDLS(const char* path, CCollection& collection);
    // Loads the resource `name` of `type` found by the resource finder. Returns 0.
    int LoadDLSFromResource(std::string_view name, std::string_view type, CCollection& collection);
    // Directory (UTF-8) where file names without a full path are looked up. Returns 0.
    int SetSearchDirectory(const char* directory, BOOL clearCache);
    // Releases the collection from the loader's cache and from `collection`: 0, or -1 (no
    // throw) without a loader or when the collection holds nothing.
    int UnloadCollection(CCollection& collection);

    // Loads a RIFF/WAVE file, or the program resource of that name when no file has it, into
    // `instrument`: read now, or at each download when `fromFile` is set. Returns 0.
    int LoadWaveFile(const char* fileName, CSampleInstrument& instrument, DWORD fromFile);
    // Loads a Standard MIDI File (types 0 and 1) as `segment`. Returns 0; -1 without a loader.
    int LoadSegment(const char* fileName, CSegment& segment, BOOL midiFile);
    // The same from the program resource `name` of `type`. Returns 0.
    int LoadSegmentFromResource(const char* name, const char* type, CSegment& segment,
                                BOOL midiFile);

    void SetResourceFinder(ResourceFinder finder) { m_findResource = std::move(finder); }

private:
    // The resource finder as the wave and segment readers ask for resources.
    ResourceLookup Resources() const;
    void Load(const char* label, const platform::music::DMUS_OBJECTDESC& desc,
              CCollection& collection);

    platform::music::IMusicSystem& m_system;
    std::unique_ptr<platform::music::IMusicLoader> m_loader;
    ResourceFinder m_findResource;
};

}  // namespace musicport
