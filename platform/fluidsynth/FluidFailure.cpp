#include "platform/fluidsynth/FluidFailure.h"

#include <fluidsynth.h>

#include <mutex>
#include <string>
#include <utility>

#include "platform/log/DebugOutput.h"
#include "platform/music/ErrorInfo.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {
namespace {

// FluidSynth's last error line on this thread: the words behind a driver that would not open.
thread_local std::string t_lastFluidError;

// Runs on whichever thread FluidSynth logs from (the audio thread included): nothing may
// escape into C code.
void LogToDebugOutput(int level, const char* message, void* /*data*/) noexcept {
    try {
        const char* tag = level <= FLUID_ERR ? "error" : "warning";
        if (level <= FLUID_ERR)
            t_lastFluidError = message ? message : "";
        OutputDebugString(std::string("FluidSynth ") + tag + ": " + (message ? message : ""));
    } catch (...) {
    }
}

}  // namespace

music::HRESULT ToResult(FluidFailure failure) {
    switch (failure) {
        case FluidFailure::NoSettings:
        case FluidFailure::NoSynth:
            return music::E_OUTOFMEMORY;
        case FluidFailure::SoundFontOpen:
            return music::DMUS_E_LOADER_FAILEDOPEN;
        case FluidFailure::SoundFontFormat:
            return music::DMUS_E_LOADER_FORMATNOTSUPPORTED;
        case FluidFailure::NoDriver:
            return music::DSERR_NODRIVER;
    }
    return music::E_FAIL;
}

music::HRESULT Fail(FluidFailure failure, std::string_view detail) {
    OutputDebugString(std::string("Built-in synthesizer: ") + std::string(detail));
    music::SetErrorInfo(std::string(detail));
    return ToResult(failure);
}

std::string TakeLastFluidError() {
    return std::exchange(t_lastFluidError, std::string());
}

void InstallFluidLogHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN})
            fluid_set_log_function(level, LogToDebugOutput, nullptr);
        // Information and debugging chatter is dropped.
        for (int level : {FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

}  // namespace platform::fluidsynth
