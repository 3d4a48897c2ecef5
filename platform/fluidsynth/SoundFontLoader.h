#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/music/IMusicLoader.h"

namespace platform::fluidsynth {

class SoundFontCollection;
class SynthWarmUp;

// The collection loader on FluidSynth: the system's default General MIDI SoundFont, SoundFont
// 2/3 and DLS files by path, and collections from memory. Collections loaded from files are
// cached by path until released. Used on one thread.
class SoundFontLoader final : public music::IMusicLoader {
public:
    static constexpr char kDefaultCollection[] = "/usr/share/sounds/sf2/default-GM.sf2";

    // `warmUp`, when given, supplies the presets of the file it prepared.
    explicit SoundFontLoader(std::string defaultPath = kDefaultCollection,
                             std::shared_ptr<SynthWarmUp> warmUp = nullptr);

    music::HRESULT GetCollection(const music::DMUS_OBJECTDESC* desc,
                                 std::shared_ptr<music::ICollection>* collection) override;
    music::HRESULT SetSearchDirectory(const music::GUID& objectClass, std::u16string_view directory,
                                      music::BOOL clearCache) override;
    music::HRESULT ReleaseObjectByUnknown(music::ICollection* collection) override;
    music::HRESULT ClearCache(const music::GUID& objectClass) override;
    music::HRESULT CollectGarbage() override;

private:
    std::string defaultPath_;
    std::string searchDirectory_;
    std::shared_ptr<SynthWarmUp> warmUp_;
    std::map<std::string, std::shared_ptr<SoundFontCollection>> cache_;
};

}  // namespace platform::fluidsynth
