#include "platform/fluidsynth/SoundFontLoader.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/fluidsynth/SoundFontCollection.h"
#include "platform/fluidsynth/SynthWarmUp.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::HRESULT;

namespace {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && text[i] != u'\0'; ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

SoundFontLoader::SoundFontLoader(std::string defaultPath, std::shared_ptr<SynthWarmUp> warmUp)
    : defaultPath_(std::move(defaultPath)), warmUp_(std::move(warmUp)) {}

HRESULT SoundFontLoader::GetCollection(const music::DMUS_OBJECTDESC* desc,
                                       std::shared_ptr<music::ICollection>* collection) {
    if (desc == nullptr || collection == nullptr)
        return music::E_POINTER;
    if ((desc->dwValidData & music::DMUS_OBJ_CLASS) == 0 ||
        desc->guidClass != music::CLSID_DirectMusicCollection)
        return music::DMUS_E_LOADER_NOCLASSID;

    HRESULT hr = music::S_OK;
    std::shared_ptr<SoundFontCollection> loaded;
    if (desc->dwValidData & music::DMUS_OBJ_MEMORY) {
        if (desc->pbMemData == nullptr || desc->llMemLength <= 0)
            return music::E_INVALIDARG;
        auto file = std::make_shared<SoundFontFile>(SoundFontFile::FromMemory(
            {desc->pbMemData, static_cast<std::size_t>(desc->llMemLength)}));
        if (file->Path().empty())
            return music::E_OUTOFMEMORY;
        loaded = SoundFontCollection::Load(std::move(file), &hr);
    } else {
        std::string path;
        if (desc->dwValidData & music::DMUS_OBJ_FILENAME) {
            path = ToUtf8({desc->wszFileName.data(), desc->wszFileName.size()});
            if (path.empty())
                return music::DMUS_E_LOADER_NOFILENAME;
            if ((desc->dwValidData & music::DMUS_OBJ_FULLPATH) == 0 && !searchDirectory_.empty())
                path = (std::filesystem::path(searchDirectory_) / path).string();
        } else if ((desc->dwValidData & music::DMUS_OBJ_OBJECT) &&
                   desc->guidObject == music::GUID_DefaultGMCollection) {
            path = defaultPath_;
        } else {
            return music::DMUS_E_LOADER_OBJECTNOTFOUND;
        }
        if (const auto it = cache_.find(path); it != cache_.end()) {
            *collection = it->second;
            return music::S_OK;
        }
        std::optional<std::vector<SoundFontCollection::Preset>> known;
        if (warmUp_)
            known = warmUp_->Presets(path);
        loaded = SoundFontCollection::Load(std::make_shared<SoundFontFile>(path), &hr,
                                           known ? &*known : nullptr);
        if (loaded)
            cache_[path] = loaded;
    }
    if (!loaded)
        return hr;
    *collection = std::move(loaded);
    return music::S_OK;
}

HRESULT SoundFontLoader::SetSearchDirectory(const music::GUID& /*objectClass*/,
                                            std::u16string_view directory, music::BOOL clearCache) {
    const std::string path = ToUtf8(directory);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return music::DMUS_E_LOADER_BADPATH;
    searchDirectory_ = path;
    if (clearCache)
        cache_.clear();
    return music::S_OK;
}

HRESULT SoundFontLoader::ReleaseObjectByUnknown(music::ICollection* collection) {
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->second.get() == collection) {
            cache_.erase(it);
            return music::S_OK;
        }
    }
    // Memory collections are never cached: releasing one is no failure.
    return collection != nullptr ? music::S_FALSE : music::E_POINTER;
}

HRESULT SoundFontLoader::ClearCache(const music::GUID& /*objectClass*/) {
    cache_.clear();
    return music::S_OK;
}

HRESULT SoundFontLoader::CollectGarbage() {
    return music::S_OK;
}

}  // namespace platform::fluidsynth
