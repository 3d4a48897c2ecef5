#include "platform/fluidsynth/SynthDownload.h"

#include <fluidsynth.h>

#include "platform/fluidsynth/PatchMap.h"
#include "platform/fluidsynth/SoundFontCollection.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::HRESULT;

namespace {

class Downloaded final : public music::IDownloadedInstrument {
public:
    explicit Downloaded(music::DWORD patch) : patch_(patch) {}
    music::DWORD Patch() const { return patch_; }
    bool unloaded = false;

private:
    music::DWORD patch_;
};

}  // namespace

SynthDownload::SynthDownload(std::shared_ptr<SynthCore> core, std::shared_ptr<PatchMap> patches)
    : core_(std::move(core)), patches_(std::move(patches)) {}

const SynthDownload::Loaded* SynthDownload::Load(const std::shared_ptr<SoundFontFile>& file) {
    const std::string& path = file->Path();
    if (const auto it = loaded_.find(path); it != loaded_.end())
        return &it->second;
    fluid_synth_t* synth = core_->Synth();
    // The file the synth already plays needs no second copy.
    if (fluid_sfont_t* present = fluid_synth_get_sfont_by_name(synth, path.c_str()))
        return &loaded_.emplace(path, Loaded{fluid_sfont_get_id(present), 0, file}).first->second;
    const int id = fluid_synth_sfload(synth, path.c_str(), 0);
    if (id == FLUID_FAILED)
        return nullptr;
    fluid_synth_set_bank_offset(synth, id, kForeignBankOffset);
    return &loaded_.emplace(path, Loaded{id, kForeignBankOffset, file}).first->second;
}

HRESULT SynthDownload::DownloadInstrument(music::IInstrument& instrument,
                                          std::shared_ptr<music::IDownloadedInstrument>* downloaded,
                                          const music::DMUS_NOTERANGE* /*ranges*/,
                                          music::DWORD /*rangeCount*/) {
    // The whole preset is made available: FluidSynth plays a preset over all its notes.
    if (downloaded == nullptr)
        return music::E_POINTER;
    auto* source = dynamic_cast<SoundFontInstrument*>(&instrument);
    if (source == nullptr)
        return music::DMUS_E_BADINSTRUMENT;
    const Loaded* loaded = Load(source->File());
    if (loaded == nullptr)
        return music::DMUS_E_NOTADLSCOL;
    patches_->Set(source->Patch(), {loaded->id, source->Source().bank + loaded->bankOffset,
                                    source->Source().program});
    *downloaded = std::make_shared<Downloaded>(source->Patch());
    return music::S_OK;
}

HRESULT SynthDownload::UnloadInstrument(music::IDownloadedInstrument& downloaded) {
    auto* entry = dynamic_cast<Downloaded*>(&downloaded);
    if (entry == nullptr)
        return music::DMUS_E_INVALID_DOWNLOADID;
    if (entry->unloaded)
        return music::DMUS_E_NOT_DOWNLOADED_TO_PORT;
    entry->unloaded = true;
    patches_->Remove(core_->Synth(), entry->Patch());
    return music::S_OK;
}

}  // namespace platform::fluidsynth
