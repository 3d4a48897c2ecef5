#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/music/IPortDownload.h"

namespace platform::fluidsynth {

class PatchMap;
class SoundFontFile;
class SynthCore;

// Instrument downloads into the built-in synthesizer: the instrument's file is loaded into the
// synth once (its banks moved out of reach of ordinary program changes unless it is the file
// the synth plays anyway), and its patch is entered into the port's patch map. GUI thread.
class SynthDownload final : public music::IInstrumentDownload {
public:
    // Bank offset of files loaded only for downloads: far above any bank a message can select.
    static constexpr int kForeignBankOffset = 16384;

    SynthDownload(std::shared_ptr<SynthCore> core, std::shared_ptr<PatchMap> patches);

    music::HRESULT DownloadInstrument(music::IInstrument& instrument,
                                      std::shared_ptr<music::IDownloadedInstrument>* downloaded,
                                      const music::DMUS_NOTERANGE* ranges,
                                      music::DWORD rangeCount) override;
    music::HRESULT UnloadInstrument(music::IDownloadedInstrument& downloaded) override;

private:
    struct Loaded {
        int id;
        int bankOffset;
        std::shared_ptr<SoundFontFile> keepAlive;  // memory files stay readable while loaded
    };
    // The synth's id of `file`, loading it when needed; -1 on failure.
    const Loaded* Load(const std::shared_ptr<SoundFontFile>& file);

    std::shared_ptr<SynthCore> core_;
    std::shared_ptr<PatchMap> patches_;
    std::map<std::string, Loaded> loaded_;
};

}  // namespace platform::fluidsynth
