#include "platform/fluidsynth/SoundFontCollection.h"

#include <fluidsynth.h>

#include <algorithm>
#include <fstream>

#include "platform/fluidsynth/FluidFailure.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::DWORD;
using music::HRESULT;

namespace {

constexpr int kDrumBank = 128;

bool Readable(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char byte = 0;
    return !path.empty() && file.read(&byte, 1).good();
}

DWORD PatchFor(int bank, int program) {
    if (bank == kDrumBank)
        return music::MakePatch(0, 0, DWORD(program), true);
    return music::MakePatch(DWORD(bank), 0, DWORD(program), false);
}

// Reads the presets with a synthesizer of its own that loads no sample data.
std::vector<SoundFontCollection::Preset> ReadPresets(const std::string& path, bool* ok) {
    std::vector<SoundFontCollection::Preset> presets;
    *ok = false;
    InstallFluidLogHandler();
    std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> settings(
        new_fluid_settings(), &delete_fluid_settings);
    if (!settings)
        return presets;
    fluid_settings_setint(settings.get(), "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings.get(), "synth.lock-memory", 0);
    std::unique_ptr<fluid_synth_t, decltype(&delete_fluid_synth)> synth(
        new_fluid_synth(settings.get()), &delete_fluid_synth);
    if (!synth)
        return presets;
    const int id = fluid_synth_sfload(synth.get(), path.c_str(), 0);
    fluid_sfont_t* sfont =
        id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(synth.get(), id);
    if (sfont == nullptr)
        return presets;
    presets = SoundFontCollection::ListPresets(sfont);
    *ok = true;
    return presets;
}

}  // namespace

std::vector<SoundFontCollection::Preset> SoundFontCollection::ListPresets(fluid_sfont_t* sfont) {
    std::vector<Preset> presets;
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(sfont)) {
        const int bank = fluid_preset_get_banknum(preset);
        const int program = fluid_preset_get_num(preset);
        const char* name = fluid_preset_get_name(preset);
        presets.push_back({PatchFor(bank, program), bank, program, name ? name : ""});
    }
    // Melodic banks first, then drum kits; within each by bank and program.
    std::stable_sort(presets.begin(), presets.end(), [](const auto& a, const auto& b) {
        const bool drumA = a.bank == kDrumBank;
        const bool drumB = b.bank == kDrumBank;
        if (drumA != drumB)
            return drumB;
        if (a.bank != b.bank)
            return a.bank < b.bank;
        return a.program < b.program;
    });
    return presets;
}

std::shared_ptr<SoundFontCollection> SoundFontCollection::Load(std::shared_ptr<SoundFontFile> file,
                                                               HRESULT* result,
                                                               const std::vector<Preset>* known) {
    if (!file || !Readable(file->Path())) {
        *result = music::DMUS_E_LOADER_FAILEDOPEN;
        return nullptr;
    }
    bool ok = known != nullptr;
    std::vector<Preset> presets = ok ? *known : ReadPresets(file->Path(), &ok);
    if (!ok) {
        *result = music::DMUS_E_NOTADLSCOL;
        return nullptr;
    }
    *result = music::S_OK;
    return std::shared_ptr<SoundFontCollection>(
        new SoundFontCollection(std::move(file), std::move(presets)));
}

HRESULT SoundFontCollection::EnumInstrument(DWORD index, DWORD* patch, char16_t* name,
                                            DWORD nameLength) {
    if (patch == nullptr || name == nullptr || nameLength == 0)
        return music::E_POINTER;
    if (index >= presets_.size())
        return music::S_FALSE;
    const Preset& preset = presets_[index];
    *patch = preset.patch;
    // Preset names are 8-bit text (Latin-1 at most).
    const std::size_t n = std::min<std::size_t>(preset.name.size(), nameLength - 1);
    for (std::size_t i = 0; i < n; ++i)
        name[i] = char16_t(static_cast<unsigned char>(preset.name[i]));
    name[n] = u'\0';
    return music::S_OK;
}

HRESULT SoundFontCollection::GetInstrument(DWORD patch,
                                           std::shared_ptr<music::IInstrument>* instrument) {
    if (instrument == nullptr)
        return music::E_POINTER;
    const auto it = std::find_if(presets_.begin(), presets_.end(),
                                 [&](const Preset& p) { return p.patch == patch; });
    if (it == presets_.end())
        return music::DMUS_E_INVALIDPATCH;
    *instrument = std::make_shared<SoundFontInstrument>(file_, *it);
    return music::S_OK;
}

HRESULT SoundFontInstrument::GetPatch(DWORD* patch) {
    if (patch == nullptr)
        return music::E_POINTER;
    *patch = patch_;
    return music::S_OK;
}

HRESULT SoundFontInstrument::SetPatch(DWORD patch) {
    // Bits 24-30 are never part of a patch.
    if ((patch & 0x7F000000) != 0)
        return music::DMUS_E_INVALIDPATCH;
    patch_ = patch;
    return music::S_OK;
}

}  // namespace platform::fluidsynth
