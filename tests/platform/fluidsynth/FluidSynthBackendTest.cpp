// The built-in synthesizer's listing, port creation, activation failures and port queries.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/music/MusicObject.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {
namespace {

std::u16string Description(const DMUS_PORTCAPS& caps) {
    std::u16string text;
    for (char16_t c : caps.wszDescription) {
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

TEST(FluidSynthBackendTest, ListsOneSoftwareSynthOutputPort) {
    FluidSynthBackend backend(OfflineOptions());
    std::vector<DMUS_PORTCAPS> ports;
    backend.ListPorts(ports);
    ASSERT_EQ(ports.size(), 1u);
    const DMUS_PORTCAPS& caps = ports[0];
    EXPECT_EQ(caps.dwSize, sizeof(DMUS_PORTCAPS));
    EXPECT_EQ(caps.guidPort, FluidSynthBackend::kPortGuid);
    EXPECT_EQ(caps.dwClass, DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(caps.dwType, DMUS_PORT_USER_MODE_SYNTH);
    EXPECT_EQ(caps.dwFlags, DMUS_PC_DLS | DMUS_PC_DLS2 | DMUS_PC_SOFTWARESYNTH);
    EXPECT_EQ(caps.dwEffectFlags, DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS);
    EXPECT_EQ(caps.dwMaxVoices, 256u);        // synth.polyphony
    EXPECT_EQ(caps.dwMaxAudioChannels, 2u);   // one stereo pair
    EXPECT_EQ(caps.dwMaxChannelGroups, 16u);  // 256 MIDI channels at most
    EXPECT_GT(caps.dwMemorySize, 0u);
    EXPECT_EQ(Description(caps), u"Tunestead built-in synthesizer (FluidSynth)");

    // The listing is the same every time it is read.
    backend.ListPorts(ports);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(std::memcmp(&ports[0], &ports[1], sizeof(DMUS_PORTCAPS)), 0);
}

struct CreateCase {
    const char* name;
    DMUS_PORTPARAMS8 asked;
    DWORD voices, groups, effects, rate;
};

TEST(FluidSynthBackendTest, CreatePortWritesGrantedParamsBack) {
    constexpr DWORD all = DMUS_PORTPARAMS_VOICES | DMUS_PORTPARAMS_CHANNELGROUPS |
                          DMUS_PORTPARAMS_AUDIOCHANNELS | DMUS_PORTPARAMS_SAMPLERATE |
                          DMUS_PORTPARAMS_EFFECTS;
    const CreateCase cases[] = {
        {"nothing asked", Params(), 256, 1, 3, 44100},
        // What the application asks at start-up: one group, both effects, 44100 Hz.
        {"start-up", Params(all & ~DMUS_PORTPARAMS_VOICES, 0, 1, 3, 44100), 256, 1, 3, 44100},
        {"within limits", Params(all, 64, 4, DMUS_EFFECT_CHORUS, 48000), 64, 4, 2, 48000},
        {"beyond limits", Params(all, 100000, 1000, 0xFF, 1000000), 256, 16, 3, 96000},
        {"too low", Params(all, 0, 0, 0, 100), 256, 1, 0, 8000},
        {"values without flags", Params(0, 7, 3, 0, 22050), 256, 1, 3, 44100},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.name);
        FluidSynthBackend backend(OfflineOptions());
        DMUS_PORTPARAMS8 params = c.asked;
        std::unique_ptr<IMusicPort> port;
        ASSERT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), S_OK);
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(params.dwValidParams & all, all);
        EXPECT_EQ(params.dwVoices, c.voices);
        EXPECT_EQ(params.dwChannelGroups, c.groups);
        EXPECT_EQ(params.dwEffectFlags, c.effects);
        EXPECT_EQ(params.dwSampleRate, c.rate);
        EXPECT_EQ(params.dwAudioChannels, 2u);

        DWORD groups = 0;
        EXPECT_EQ(port->GetNumChannelGroups(&groups), S_OK);
        EXPECT_EQ(groups, c.groups);
        WAVEFORMATEX format;
        DWORD formatSize = 0, bufferSize = 0;
        ASSERT_EQ(port->GetFormat(&format, &formatSize, &bufferSize), S_OK);
        EXPECT_EQ(format.nSamplesPerSec, c.rate);
        EXPECT_EQ(backend.LastPortRenderer()->SampleRate(), int(c.rate));
    }
}

TEST(FluidSynthBackendTest, CreatePortRejectsBadArguments) {
    FluidSynthBackend backend(OfflineOptions());
    DMUS_PORTPARAMS8 params = Params();
    std::unique_ptr<IMusicPort> port;
    EXPECT_EQ(backend.CreatePort(GUID_NULL, &params, &port), E_INVALIDARG);
    EXPECT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, nullptr, &port), E_POINTER);
    EXPECT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, nullptr), E_POINTER);
    params.dwSize = 12;
    EXPECT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), E_INVALIDARG);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(backend.LastPortRenderer(), nullptr);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

HRESULT ActivateWith(FluidSynthBackend::Options options) {
    FluidSynthBackend backend(std::move(options));
    DMUS_PORTPARAMS8 params = Params();
    std::unique_ptr<IMusicPort> port;
    if (HRESULT hr = backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port); Failed(hr))
        return hr;
    const HRESULT first = port->Activate(TRUE);
    // A failed activation leaves nothing half-open: a second try fails the same way.
    const HRESULT second = port->Activate(TRUE);
    EXPECT_EQ(first, second);
    EXPECT_EQ(port->Activate(FALSE), S_OK);
    return first;
}

TEST(FluidSynthBackendTest, ActivationFailsWithoutSoundFont) {
    const auto dir = std::filesystem::temp_directory_path() / "fs-backend-test";
    std::filesystem::create_directories(dir);
    const auto garbage = dir / "garbage.sf2";
    std::ofstream(garbage) << "RIFF....not a SoundFont at all";

    struct Case {
        std::string path;
        HRESULT result;
    };
    const Case cases[] = {
        {"/nonexistent/path/none.sf2", DMUS_E_LOADER_FAILEDOPEN},
        {"", DMUS_E_LOADER_FAILEDOPEN},
        {dir.string(), DMUS_E_LOADER_FAILEDOPEN},  // a directory
        {garbage.string(), DMUS_E_LOADER_FORMATNOTSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        FluidSynthBackend::Options options = OfflineOptions();
        options.soundFontPath = c.path;
        EXPECT_EQ(ActivateWith(options), c.result);
    }
    std::filesystem::remove_all(dir);
}

TEST(FluidSynthBackendTest, ActivationFailsWithoutAudioDriver) {
    // No server behind PULSE_SERVER: the pulseaudio driver cannot connect.
    ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/pulse/native");
    const std::vector<std::vector<std::string>> lists = {
        {"nonexistent-driver"},
        {"pulseaudio"},
        {"nonexistent-driver", "pulseaudio", ""},
    };
    for (const auto& drivers : lists) {
        SCOPED_TRACE(drivers.front());
        FluidSynthBackend::Options options;
        options.audioDrivers = drivers;
        EXPECT_EQ(ActivateWith(options), DSERR_NODRIVER);
    }
}

TEST(FluidSynthBackendTest, OfflineActivationIsRepeatable) {
    OfflineSynth synth;
    ASSERT_EQ(synth.activated, S_OK);
    EXPECT_EQ(synth.port->Activate(TRUE), S_OK);
    EXPECT_EQ(synth.port->Activate(FALSE), S_OK);
    EXPECT_EQ(synth.port->Activate(FALSE), S_OK);
    // Inactive: buffers are refused, not played.
    EXPECT_EQ(synth.Play(Msg(0x90, 69, 127)), DMUS_E_SYNTHINACTIVE);
    EXPECT_EQ(synth.port->Activate(TRUE), S_OK);
    EXPECT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
}

TEST(FluidSynthBackendTest, LatencyClockAnswersNowInHundredNanoseconds) {
    OfflineSynth synth;
    std::shared_ptr<IReferenceClock> clock;
    ASSERT_EQ(synth.port->GetLatencyClock(&clock), S_OK);
    ASSERT_NE(clock, nullptr);
    REFERENCE_TIME before = 0, after = 0;
    ASSERT_EQ(clock->GetTime(&before), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(clock->GetTime(&after), S_OK);
    EXPECT_GE(after - before, 200'000);     // 20 ms
    EXPECT_LT(after - before, 20'000'000);  // well under 2 s
    EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
}

TEST(FluidSynthBackendTest, EffectsProperty) {
    OfflineSynth synth;
    std::shared_ptr<IKsControl> control;
    ASSERT_EQ(synth.port->QueryKsControl(&control), S_OK);
    ASSERT_NE(control, nullptr);

    auto get = [&](HRESULT* hr) {
        KSPROPERTY property{GUID_DMUS_PROP_Effects, 0, KSPROPERTY_TYPE_GET};
        DWORD value = 0xDEAD;
        ULONG returned = 0;
        *hr = control->KsProperty(&property, sizeof property, &value, sizeof value, &returned);
        EXPECT_EQ(returned, Succeeded(*hr) ? sizeof value : 0u);
        return value;
    };
    auto set = [&](DWORD value) {
        KSPROPERTY property{GUID_DMUS_PROP_Effects, 0, KSPROPERTY_TYPE_SET};
        return control->KsProperty(&property, sizeof property, &value, sizeof value, nullptr);
    };
    HRESULT hr = E_FAIL;
    EXPECT_EQ(get(&hr), DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS);  // as created
    for (DWORD value : {0u, 1u, 2u, 3u, 0xFFu}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(set(value), S_OK);
        EXPECT_EQ(get(&hr), value & 3);
        EXPECT_EQ(hr, S_OK);
    }

    DWORD value = 3;
    const GUID otherSet{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const struct {
        const char* name;
        KSPROPERTY property;
        ULONG propertyLength;
        void* data;
        ULONG dataLength;
        HRESULT result;
    } bad[] = {
        {"other set", {otherSet, 0, KSPROPERTY_TYPE_SET}, 24, &value, 4, DMUS_E_UNKNOWN_PROPERTY},
        {"other id",
         {GUID_DMUS_PROP_Effects, 1, KSPROPERTY_TYPE_GET},
         24,
         &value,
         4,
         DMUS_E_UNKNOWN_PROPERTY},
        {"short value",
         {GUID_DMUS_PROP_Effects, 0, KSPROPERTY_TYPE_SET},
         24,
         &value,
         2,
         E_INVALIDARG},
        {"no value", {GUID_DMUS_PROP_Effects, 0, KSPROPERTY_TYPE_SET}, 24, nullptr, 4, E_POINTER},
        {"short header",
         {GUID_DMUS_PROP_Effects, 0, KSPROPERTY_TYPE_SET},
         16,
         &value,
         4,
         E_INVALIDARG},
        {"no verb", {GUID_DMUS_PROP_Effects, 0, 0}, 24, &value, 4, E_INVALIDARG},
    };
    ASSERT_EQ(set(1), S_OK);
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(control->KsProperty(&c.property, c.propertyLength, c.data, c.dataLength, nullptr),
                  c.result);
    }
    EXPECT_EQ(control->KsProperty(nullptr, 24, &value, 4, nullptr), E_POINTER);
    EXPECT_EQ(get(&hr), 1u);  // no refused call changed the state
}

TEST(FluidSynthBackendTest, ChannelGroupsAndPriorities) {
    OfflineSynth synth(Params(DMUS_PORTPARAMS_CHANNELGROUPS, 0, 2));
    IMusicPort& port = *synth.port;
    DWORD priority = 0;
    // Defaults: the drum channel (10, index 9) above channel 1, channel 16 lowest.
    ASSERT_EQ(port.GetChannelPriority(1, 9, &priority), S_OK);
    const DWORD drums = priority;
    ASSERT_EQ(port.GetChannelPriority(1, 0, &priority), S_OK);
    EXPECT_GT(drums, priority);
    ASSERT_EQ(port.GetChannelPriority(2, 15, &priority), S_OK);
    EXPECT_LT(priority, drums);

    EXPECT_EQ(port.SetChannelPriority(2, 3, 0x12345678), S_OK);
    EXPECT_EQ(port.GetChannelPriority(2, 3, &priority), S_OK);
    EXPECT_EQ(priority, 0x12345678u);
    EXPECT_EQ(port.GetChannelPriority(1, 3, &priority), S_OK);
    EXPECT_NE(priority, 0x12345678u);  // per channel group

    for (auto [group, channel] : {std::pair{0u, 0u}, {3u, 0u}, {1u, 16u}, {0xFFFFFFFFu, 0u}}) {
        EXPECT_EQ(port.GetChannelPriority(group, channel, &priority), E_INVALIDARG);
        EXPECT_EQ(port.SetChannelPriority(group, channel, 1), E_INVALIDARG);
    }
    EXPECT_EQ(port.GetChannelPriority(1, 0, nullptr), E_POINTER);

    DWORD groups = 0;
    for (DWORD bad : {0u, 17u, 0xFFFFFFFFu})
        EXPECT_EQ(port.SetNumChannelGroups(bad), E_INVALIDARG);
    EXPECT_EQ(port.SetNumChannelGroups(16), S_OK);
    EXPECT_EQ(port.GetNumChannelGroups(&groups), S_OK);
    EXPECT_EQ(groups, 16u);
    EXPECT_EQ(port.SetChannelPriority(16, 15, 7), S_OK);
    EXPECT_EQ(port.GetNumChannelGroups(nullptr), E_POINTER);
}

TEST(FluidSynthBackendTest, FormatStatsAndOptionalInterfaces) {
    OfflineSynth synth;
    IMusicPort& port = *synth.port;

    WAVEFORMATEX format;
    DWORD formatSize = 0, bufferSize = 0;
    ASSERT_EQ(port.GetFormat(&format, &formatSize, &bufferSize), S_OK);
    EXPECT_EQ(formatSize, sizeof(WAVEFORMATEX));
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nBlockAlign, format.nChannels * format.wBitsPerSample / 8);
    EXPECT_EQ(format.nAvgBytesPerSec, format.nSamplesPerSec * format.nBlockAlign);
    // The output buffer: the backend's period size times its count of periods.
    const FluidSynthBackend::Options& options = synth.backend.GetOptions();
    EXPECT_EQ(bufferSize, DWORD(options.periodSize * options.periods) * format.nBlockAlign);
    EXPECT_EQ(port.GetFormat(nullptr, &formatSize, nullptr), S_OK);  // size query
    EXPECT_EQ(port.GetFormat(&format, nullptr, nullptr), E_POINTER);

    DMUS_SYNTHSTATS8 stats;
    stats.dwSize = sizeof stats;
    ASSERT_EQ(port.GetRunningStats(&stats), S_OK);
    EXPECT_EQ(stats.dwVoices, 0u);
    EXPECT_TRUE(stats.dwValidStats & DMUS_SYNTHSTATS_VOICES);
    ASSERT_EQ(synth.Play(Msg(0x90, 60, 100)), S_OK);
    ASSERT_EQ(synth.Play(Msg(0x90, 64, 100)), S_OK);
    synth.RenderSeconds(0.05);
    ASSERT_EQ(port.GetRunningStats(&stats), S_OK);
    EXPECT_GE(stats.dwVoices, 2u);  // a piano note may take more than one voice
    stats.dwSize = 20;
    EXPECT_EQ(port.GetRunningStats(&stats), E_INVALIDARG);
    EXPECT_EQ(port.GetRunningStats(nullptr), E_POINTER);

    // One download interface per port, whoever asks.
    std::shared_ptr<IPortDownload> download;
    std::shared_ptr<IPortDownload> again;
    EXPECT_EQ(port.QueryPortDownload(&download), S_OK);
    EXPECT_EQ(port.QueryPortDownload(&again), S_OK);
    EXPECT_NE(download, nullptr);
    EXPECT_EQ(download, again);
    EXPECT_EQ(port.QueryPortDownload(nullptr), E_POINTER);
    EXPECT_EQ(port.Compact(), S_OK);

    DMUS_PORTCAPS caps;
    ASSERT_EQ(port.GetCaps(&caps), S_OK);
    EXPECT_EQ(caps.guidPort, FluidSynthBackend::kPortGuid);
    EXPECT_EQ(port.GetCaps(nullptr), E_POINTER);
}

}  // namespace
}  // namespace tests::fluidsynth

namespace tests::fluidsynth {
namespace {

// Records what the music object mirrors.
class RecordingSink final : public IMidiSink {
public:
    void Send(DWORD group, const BYTE* data, DWORD length) noexcept override {
        sent.emplace_back(group, std::vector<BYTE>(data, data + length));
    }
    std::vector<std::pair<DWORD, std::vector<BYTE>>> sent;
};

TEST(FluidSynthBackendTest, OutputPortsOfAMirroredMusicObjectAlsoPlayIntoTheMirror) {
    auto mirror = std::make_shared<RecordingSink>();
    std::vector<std::unique_ptr<IPortBackend>> backends;
    backends.push_back(std::make_unique<FluidSynthBackend>(OfflineOptions()));
    MusicObject music(std::move(backends), mirror);
    DMUS_PORTCAPS caps;
    caps.dwSize = sizeof caps;
    ASSERT_EQ(music.EnumPort(0, &caps), S_OK);
    DMUS_PORTPARAMS8 params = Params();
    std::unique_ptr<IMusicPort> port;
    ASSERT_EQ(music.CreatePort(caps.guidPort, &params, &port), S_OK);
    ASSERT_EQ(port->Activate(TRUE), S_OK);

    EventBuffer buffer(64);
    buffer.PackStructured(0, 0, Msg(0x90, 60, 100));
    ASSERT_EQ(port->PlayBuffer(buffer), S_OK);
    ASSERT_EQ(mirror->sent.size(), 1u);
    EXPECT_EQ(mirror->sent[0].second, (std::vector<BYTE>{0x90, 60, 100}));

    // Thru delivery reaches the synth only: input never echoes out of the player's own port.
    std::shared_ptr<IMidiSink> thru;
    ASSERT_EQ(port->QueryMidiSink(&thru), S_OK);
    const BYTE noteOff[] = {0x80, 60, 0};
    thru->Send(0, noteOff, 3);
    EXPECT_EQ(mirror->sent.size(), 1u);

    // A failed play is not mirrored.
    port->Activate(FALSE);
    EXPECT_NE(port->PlayBuffer(buffer), S_OK);
    EXPECT_EQ(mirror->sent.size(), 1u);
}

}  // namespace
}  // namespace tests::fluidsynth
