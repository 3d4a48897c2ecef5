#include "musicport/CDLSLoader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "musicport/CDMusicException.h"
#include "musicport/CSegmentLoader.h"
#include "musicport/CWaveFileLoader.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kInitialize = "CDLSLoader::Initialize()";
constexpr const char* kLoadDLS = "CDLSLoader::LoadDLS()";
constexpr const char* kLoadFromResource = "CDLSLoader::LoadDLSFromResource()";
constexpr const char* kSetSearchDirectory = "CDLSLoader::SetSearchDirectory()";
constexpr const char* kUnloadCollection = "CDLSLoader::UnloadCollection()";

// UTF-8 to UTF-16, at most 259 units plus the terminating NUL.
void Widen(std::array<char16_t, 260>& target, std::string_view text) {
    target.fill(u'\0');
    std::u16string wide;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = byte < 0x80             ? 1
                        : (byte & 0xE0) == 0xC0 ? 2
                        : (byte & 0xF0) == 0xE0 ? 3
                        : (byte & 0xF8) == 0xF0 ? 4
                                                : 1;
        if (n == 1 && byte < 0x80) {
            cp = byte;
        } else if (n > 1 && i + n <= text.size()) {
            cp = byte & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        } else {
            n = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            wide.push_back(char16_t(0xD800 | (cp >> 10)));
            wide.push_back(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            wide.push_back(char16_t(cp));
        }
        i += n;
    }
    std::copy_n(wide.begin(), std::min(wide.size(), target.size() - 1), target.begin());
}

pm::DMUS_OBJECTDESC CollectionDesc(DWORD validData) {
    pm::DMUS_OBJECTDESC desc;
    desc.dwSize = sizeof desc;
    desc.dwValidData = validData;
    desc.guidClass = pm::CLSID_DirectMusicCollection;
    return desc;
}

}  // namespace

CDLSLoader::CDLSLoader(pm::IMusicSystem& system) : m_system(system) {}

CDLSLoader::~CDLSLoader() {
    if (m_loader) {
        m_loader->ClearCache(pm::GUID_DirectMusicAllTypes);
        m_loader->CollectGarbage();
    }
}

int CDLSLoader::Initialize() {
    std::unique_ptr<pm::IMusicLoader> loader;
    const HRESULT hr = m_system.CreateLoader(&loader);
    if (pm::Failed(hr))
        throw CDMusicException(kInitialize, hr);
    if (!loader)
        throw CDMusicException(kInitialize, -1);
    m_loader = std::move(loader);
    return 0;
}

void CDLSLoader::Load(const char* label, const pm::DMUS_OBJECTDESC& desc, CCollection& collection) {
    UnloadCollection(collection);
    if (!m_loader)
        throw CDMusicException(label, -1);
    std::shared_ptr<pm::ICollection> loaded;
    const HRESULT hr = m_loader->GetCollection(&desc, &loaded);
    if (pm::Failed(hr))
        throw CDMusicException(label, hr);
    if (!loaded)
        throw CDMusicException(label, -1);
    collection.m_collection = std::move(loaded);
}

int CDLSLoader::LoadDLS(const char* path, CCollection& collection) {
    pm::DMUS_OBJECTDESC desc;
    if (path != nullptr) {
        desc = CollectionDesc(pm::DMUS_OBJ_CLASS | pm::DMUS_OBJ_FILENAME | pm::DMUS_OBJ_FULLPATH);
        Widen(desc.wszFileName, path);
    } else {
        desc = CollectionDesc(pm::DMUS_OBJ_OBJECT | pm::DMUS_OBJ_CLASS);
        desc.guidObject = pm::GUID_DefaultGMCollection;
    }
    Load(kLoadDLS, desc, collection);
    return 0;
}

int CDLSLoader::LoadDLSFromResource(std::string_view name, std::string_view type,
                                    CCollection& collection) {
    const std::optional<std::span<const BYTE>> bytes =
        m_findResource ? m_findResource(name, type) : std::nullopt;
    if (!bytes || bytes->empty())
        throw CDMusicException(kLoadFromResource, pm::E_FAIL);
    pm::DMUS_OBJECTDESC desc = CollectionDesc(pm::DMUS_OBJ_CLASS | pm::DMUS_OBJ_MEMORY);
    desc.llMemLength = static_cast<std::int64_t>(bytes->size());
    desc.pbMemData = bytes->data();
    Load(kLoadFromResource, desc, collection);
    return 0;
}

int CDLSLoader::SetSearchDirectory(const char* directory, BOOL clearCache) {
    if (!m_loader || directory == nullptr)
        throw CDMusicException(kSetSearchDirectory, -1);
    std::array<char16_t, 260> wide{};
    Widen(wide, directory);
    const HRESULT hr = m_loader->SetSearchDirectory(
        pm::GUID_DirectMusicAllTypes,
        std::u16string_view(wide.data(), std::char_traits<char16_t>::length(wide.data())),
        clearCache);
    if (pm::Failed(hr))
        throw CDMusicException(kSetSearchDirectory, hr);
    return 0;
}

int CDLSLoader::UnloadCollection(CCollection& collection) {
    if (!m_loader || !collection.m_collection)
        return -1;
    const HRESULT hr = m_loader->ReleaseObjectByUnknown(collection.m_collection.get());
    if (pm::Failed(hr))
        throw CDMusicException(kUnloadCollection, hr);
    collection.m_collection.reset();
    return 0;
}

int CDLSLoader::LoadWaveFile(const char* fileName, CSampleInstrument& instrument, DWORD fromFile) {
    return CWaveFileLoader::LoadWaveFile(fileName, instrument, fromFile, Resources());
}

int CDLSLoader::LoadSegment(const char* fileName, CSegment& segment, BOOL midiFile) {
    if (!m_loader)
        throw CDMusicException("CDLSLoader::LoadSegment()", -1);
    return CSegmentLoader::LoadSegment(fileName, segment, midiFile);
}

int CDLSLoader::LoadSegmentFromResource(const char* name, const char* type, CSegment& segment,
                                        BOOL midiFile) {
    return CSegmentLoader::LoadSegmentFromResource(name, type, segment, midiFile, Resources());
}

ResourceLookup CDLSLoader::Resources() const {
    return [finder = m_findResource](std::string_view name, std::string_view type,
                                     std::vector<std::uint8_t>& bytes) {
        if (!finder)
            return false;
        const auto found = finder(name, type);
        if (!found)
            return false;
        bytes.assign(found->begin(), found->end());
        return true;
    };
}

}  // namespace musicport
