#pragma once

#include <string>
#include <string_view>

#include "platform/music/Types.h"

namespace platform::fluidsynth {

// What can go wrong inside FluidSynth, as this backend meets it.
enum class FluidFailure {
    NoSettings,       // new_fluid_settings returned null
    NoSynth,          // new_fluid_synth returned null
    SoundFontOpen,    // the SoundFont file is missing or cannot be read
    SoundFontFormat,  // the file opens but FluidSynth cannot load it
    NoDriver,         // no audio driver of the list could be started
};

// The one mapping of FluidSynth failures to music-port result codes.
music::HRESULT ToResult(FluidFailure failure);

// Logs `detail` once through the debug output, leaves it as this thread's error info (the
// cause a caller may show the user) and returns the failure's result code.
music::HRESULT Fail(FluidFailure failure, std::string_view detail);

// FluidSynth's last error message logged on this thread, cleared by the call.
std::string TakeLastFluidError();

// Routes FluidSynth's own log lines (warnings and errors) to the debug output instead of
// stderr. Process-wide; installed once, safe to call from any thread.
void InstallFluidLogHandler();

}  // namespace platform::fluidsynth
