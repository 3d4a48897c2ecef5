#pragma once

// A built-in synthesizer port running offline (no audio driver): events are played through
// the port and the sound is rendered on demand.

#include <memory>
#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/Renderer.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"

namespace tests::fluidsynth {

using namespace platform::music;
using platform::fluidsynth::FluidSynthBackend;

inline FluidSynthBackend::Options OfflineOptions() {
    FluidSynthBackend::Options options;
    options.audioDrivers.clear();
    return options;
}

inline DMUS_PORTPARAMS8 Params(DWORD valid = 0, DWORD voices = 0, DWORD groups = 0,
                               DWORD effects = 0, DWORD rate = 0) {
    DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    params.dwValidParams = valid;
    params.dwVoices = voices;
    params.dwChannelGroups = groups;
    params.dwEffectFlags = effects;
    params.dwSampleRate = rate;
    return params;
}

class OfflineSynth {
public:
    explicit OfflineSynth(DMUS_PORTPARAMS8 params = Params(DMUS_PORTPARAMS_SAMPLERATE, 0, 0, 0,
                                                           44100))
        : backend(OfflineOptions()), params_(params) {
        created = backend.CreatePort(FluidSynthBackend::kPortGuid, &params_, &port);
        if (port)
            activated = port->Activate(TRUE);
        renderer = backend.LastPortRenderer();
    }

    // Plays one short message now.
    HRESULT Play(DWORD message, DWORD group = 0) {
        EventBuffer buffer(64);
        HRESULT hr = buffer.PackStructured(0, group, message);
        return Succeeded(hr) ? port->PlayBuffer(buffer) : hr;
    }

    HRESULT PlayBytes(const std::vector<BYTE>& bytes, DWORD group = 0) {
        EventBuffer buffer(1024);
        HRESULT hr = buffer.PackUnstructured(0, group, DWORD(bytes.size()), bytes.data());
        return Succeeded(hr) ? port->PlayBuffer(buffer) : hr;
    }

    std::vector<float> RenderSeconds(double seconds) {
        return renderer->Render(std::size_t(seconds * renderer->SampleRate()));
    }

    int Rate() const { return renderer->SampleRate(); }

    FluidSynthBackend backend;
    std::unique_ptr<IMusicPort> port;
    std::shared_ptr<platform::fluidsynth::Renderer> renderer;
    HRESULT created = E_FAIL;
    HRESULT activated = E_FAIL;

private:
    DMUS_PORTPARAMS8 params_;
};

constexpr DWORD Msg(BYTE status, BYTE data1, BYTE data2 = 0) {
    return DWORD(status) | DWORD(data1) << 8 | DWORD(data2) << 16;
}

}  // namespace tests::fluidsynth
