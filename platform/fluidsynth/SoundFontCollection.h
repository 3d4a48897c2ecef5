#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/fluidsynth/SoundFontFile.h"
#include "platform/music/ICollection.h"

struct _fluid_sfont_t;

namespace platform::fluidsynth {

// One SoundFont 2/3 or DLS file as a collection: its presets in a stable order (melodic banks
// first, by bank then program; drum kits last), each with its own name and its patch (bank
// 128 is the drum bank: drum flag, bank 0). The presets are read once at load.
class SoundFontCollection final : public music::ICollection {
public:
    struct Preset {
        music::DWORD patch;
        int bank;  // FluidSynth's bank number in the file
        int program;
        std::string name;
    };

    // Reads the presets; null with *result DMUS_E_LOADER_FAILEDOPEN (unreadable) or
    // DMUS_E_NOTADLSCOL (not a collection). `known`, when given, are the file's presets as
    // ListPresets gave them from a synthesizer that loaded it already: the file is not read
    // again.
    static std::shared_ptr<SoundFontCollection> Load(std::shared_ptr<SoundFontFile> file,
                                                     music::HRESULT* result,
                                                     const std::vector<Preset>* known = nullptr);
    // The presets of a loaded SoundFont in the collection's order.
    static std::vector<Preset> ListPresets(_fluid_sfont_t* sfont);

    music::HRESULT EnumInstrument(music::DWORD index, music::DWORD* patch, char16_t* name,
                                  music::DWORD nameLength) override;
    music::HRESULT GetInstrument(music::DWORD patch,
                                 std::shared_ptr<music::IInstrument>* instrument) override;

    const std::vector<Preset>& Presets() const { return presets_; }
    const std::shared_ptr<SoundFontFile>& File() const { return file_; }

private:
    SoundFontCollection(std::shared_ptr<SoundFontFile> file, std::vector<Preset> presets)
        : file_(std::move(file)), presets_(std::move(presets)) {}

    std::shared_ptr<SoundFontFile> file_;
    std::vector<Preset> presets_;
};

// An instrument taken from a SoundFontCollection: the file and preset it plays, and the
// patch it answers once downloaded.
class SoundFontInstrument final : public music::IInstrument {
public:
    SoundFontInstrument(std::shared_ptr<SoundFontFile> file, SoundFontCollection::Preset preset)
        : file_(std::move(file)), preset_(std::move(preset)), patch_(preset_.patch) {}

    music::HRESULT GetPatch(music::DWORD* patch) override;
    music::HRESULT SetPatch(music::DWORD patch) override;

    const std::shared_ptr<SoundFontFile>& File() const { return file_; }
    const SoundFontCollection::Preset& Source() const { return preset_; }
    music::DWORD Patch() const { return patch_; }

private:
    std::shared_ptr<SoundFontFile> file_;
    SoundFontCollection::Preset preset_;
    music::DWORD patch_;
};

}  // namespace platform::fluidsynth
