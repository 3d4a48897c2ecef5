#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/music/ICollection.h"
#include "platform/music/Types.h"

namespace platform::music {

// Valid-data flags of DMUS_OBJECTDESC.
constexpr DWORD DMUS_OBJ_OBJECT = 0x001;
constexpr DWORD DMUS_OBJ_CLASS = 0x002;
constexpr DWORD DMUS_OBJ_FILENAME = 0x010;
constexpr DWORD DMUS_OBJ_FULLPATH = 0x020;
constexpr DWORD DMUS_OBJ_MEMORY = 0x400;

constexpr GUID CLSID_DirectMusicCollection{
    0x480FF4B0, 0x28B2, 0x11D1, {0xBE, 0xF7, 0x00, 0xC0, 0x4F, 0xBF, 0x8F, 0xEF}};
// The system's default General MIDI collection.
constexpr GUID GUID_DefaultGMCollection{
    0xF17E8673, 0xC3B4, 0x11D1, {0x87, 0x0B, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
constexpr GUID GUID_DirectMusicAllTypes{
    0xD2AC2893, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};

// What to load: the default collection (DMUS_OBJ_OBJECT with GUID_DefaultGMCollection), a
// file (DMUS_OBJ_FILENAME, full path, UTF-16) or bytes in memory (DMUS_OBJ_MEMORY; the bytes
// need not outlive the call).
struct DMUS_OBJECTDESC {
    DWORD dwSize = 0;
    DWORD dwValidData = 0;
    GUID guidObject;
    GUID guidClass;
    std::array<char16_t, 260> wszFileName{};
    std::int64_t llMemLength = 0;
    const BYTE* pbMemData = nullptr;
};

// Loads collections and caches them until released. Used on one thread.
class IMusicLoader {
public:
    virtual ~IMusicLoader() = default;
    // A file that is not a collection gives DMUS_E_NOTADLSCOL, one that cannot be opened
    // DMUS_E_LOADER_FAILEDOPEN.
    virtual HRESULT GetCollection(const DMUS_OBJECTDESC* desc,
                                  std::shared_ptr<ICollection>* collection) = 0;
    virtual HRESULT SetSearchDirectory(const GUID& objectClass, std::u16string_view directory,
                                       BOOL clearCache) = 0;
    // Drops a collection from the cache.
    virtual HRESULT ReleaseObjectByUnknown(ICollection* collection) = 0;
    virtual HRESULT ClearCache(const GUID& objectClass) = 0;
    virtual HRESULT CollectGarbage() = 0;
};

}  // namespace platform::music
