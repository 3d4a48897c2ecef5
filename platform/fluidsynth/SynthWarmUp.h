#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fluidsynth/SoundFontCollection.h"
#include "platform/fluidsynth/SynthCore.h"

namespace platform::fluidsynth {

// Makes, on a thread of its own, the synthesizer the first port will ask for, with the
// SoundFont loaded, and lists that SoundFont's presets from it. Loading a General MIDI
// SoundFont takes tens of milliseconds; started with the process, it runs beside the
// window's construction instead of before the window appears. What it made is taken once,
// and only for the same configuration and file; anything else is made as usual by the
// caller, so a miss costs nothing but the wasted work.
class SynthWarmUp {
public:
    SynthWarmUp(SynthCore::Config config, std::string soundFontPath);
    ~SynthWarmUp();
    SynthWarmUp(const SynthWarmUp&) = delete;
    SynthWarmUp& operator=(const SynthWarmUp&) = delete;

    // The prepared synth when `config` and `soundFontPath` are the ones it was made with and
    // it loaded the SoundFont; null otherwise and on every later call. Waits for the thread.
    std::shared_ptr<SynthCore> Take(const SynthCore::Config& config,
                                    const std::string& soundFontPath);
    // The presets of `soundFontPath` as SoundFontCollection lists them, when that is the
    // prepared file and it loaded. Waits for the thread.
    std::optional<std::vector<SoundFontCollection::Preset>> Presets(
        const std::string& soundFontPath);

private:
    void Join();

    const SynthCore::Config config_;
    const std::string soundFontPath_;
    std::mutex mutex_;  // guards the join and what the thread left
    std::shared_ptr<SynthCore> core_;
    std::optional<std::vector<SoundFontCollection::Preset>> presets_;
    std::thread thread_;
};

}  // namespace platform::fluidsynth
