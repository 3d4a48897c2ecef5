// What the built-in synthesizer plays: rendered offline and measured.

#include <gtest/gtest.h>

#include <cmath>

#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {
namespace {

constexpr double kA4 = 440.0;
// Loud enough to be a note; below kSilent is the effects units' idle noise floor.
constexpr double kAudible = 0.01;
constexpr double kSilent = 1e-5;

// Pitch and level of the left channel from 0.1 s to 0.3 s of `stereo`.
struct Heard {
    double pitch;
    double rms;
};
Heard Listen(const std::vector<float>& stereo, int rate) {
    const auto samples = LeftChannel(stereo, std::size_t(rate / 10), std::size_t(rate / 5));
    return {PitchHz(samples, rate), Rms(samples)};
}

TEST(FluidSynthRenderTest, NoteOn69SoundsAt440HzAndDecaysAfterNoteOff) {
    OfflineSynth synth;
    ASSERT_EQ(synth.activated, S_OK);
    EXPECT_LT(Rms(synth.RenderSeconds(0.1)), kSilent);  // silent before any note

    ASSERT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
    const Heard held = Listen(synth.RenderSeconds(0.5), synth.Rate());
    EXPECT_NEAR(held.pitch, kA4, kA4 * 0.01);
    EXPECT_GT(held.rms, kAudible);

    ASSERT_EQ(synth.Play(Msg(0x80, 69, 0)), S_OK);
    synth.RenderSeconds(1.0);
    const double after = Rms(LeftChannel(synth.RenderSeconds(0.2), 0, std::size_t(synth.Rate())));
    EXPECT_LT(after, held.rms * 0.1);
}

TEST(FluidSynthRenderTest, EveryNoteEndingMessageSilences) {
    const std::pair<const char*, std::vector<DWORD>> enders[] = {
        {"note-off", {Msg(0x80, 69, 64)}},
        {"note-on velocity 0", {Msg(0x90, 69, 0)}},
        {"all notes off", {Msg(0xB0, 123, 0)}},
        {"all sound off", {Msg(0xB0, 120, 0)}},
    };
    for (const auto& [name, messages] : enders) {
        SCOPED_TRACE(name);
        OfflineSynth synth;
        ASSERT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
        const double held = Listen(synth.RenderSeconds(0.5), synth.Rate()).rms;
        for (DWORD m : messages)
            ASSERT_EQ(synth.Play(m), S_OK);
        synth.RenderSeconds(1.0);
        EXPECT_LT(Rms(LeftChannel(synth.RenderSeconds(0.2), 0, 8820)), held * 0.1);
    }
}

TEST(FluidSynthRenderTest, ProgramChangeChangesTimbreAndKeepsPitch) {
    auto profileOf = [](int program) {
        OfflineSynth synth;
        if (program >= 0) {
            EXPECT_EQ(synth.Play(Msg(0xC0, BYTE(program))), S_OK);
        }
        EXPECT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
        const auto stereo = synth.RenderSeconds(0.5);
        const auto samples = LeftChannel(stereo, 4410, 8820);
        EXPECT_NEAR(PitchHz(samples, synth.Rate()), kA4, kA4 * 0.01) << "program " << program;
        return HarmonicProfile(samples, synth.Rate(), kA4, 6);
    };
    auto distance = [](const std::vector<double>& a, const std::vector<double>& b) {
        double d = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            d += std::abs(a[i] - b[i]);
        return d;
    };
    const auto piano = profileOf(-1);
    EXPECT_LT(distance(piano, profileOf(0)), 0.02);  // program 0 is the default piano
    // Flute (73) and square lead (80) differ from the piano from their first note.
    EXPECT_GT(distance(piano, profileOf(73)), 0.2);
    EXPECT_GT(distance(piano, profileOf(80)), 0.2);
}

TEST(FluidSynthRenderTest, ChannelGroupsSelectTheirOwnChannels) {
    auto levelOf = [](DWORD portGroups, DWORD sendGroup) {
        OfflineSynth synth(Params(DMUS_PORTPARAMS_CHANNELGROUPS, 0, portGroups));
        EXPECT_EQ(synth.Play(Msg(0x90, 69, 127), sendGroup), S_OK);
        return Listen(synth.RenderSeconds(0.4), synth.Rate()).rms;
    };
    EXPECT_GT(levelOf(1, 0), kAudible);  // group 0 plays on group 1
    EXPECT_GT(levelOf(1, 1), kAudible);
    EXPECT_LT(levelOf(1, 2), kSilent);  // the port has no group 2
    EXPECT_GT(levelOf(2, 2), kAudible);

    // A program change in group 2 leaves group 1's channel alone.
    OfflineSynth synth(Params(DMUS_PORTPARAMS_CHANNELGROUPS, 0, 2));
    ASSERT_EQ(synth.Play(Msg(0xC0, 73), 2), S_OK);
    ASSERT_EQ(synth.Play(Msg(0x90, 69, 127), 1), S_OK);
    const auto samples = LeftChannel(synth.RenderSeconds(0.5), 4410, 8820);
    OfflineSynth piano;
    ASSERT_EQ(piano.Play(Msg(0x90, 69, 127)), S_OK);
    const auto pianoSamples = LeftChannel(piano.RenderSeconds(0.5), 4410, 8820);
    const auto a = HarmonicProfile(samples, synth.Rate(), kA4, 6);
    const auto b = HarmonicProfile(pianoSamples, piano.Rate(), kA4, 6);
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR(a[i], b[i], 0.01);
}

TEST(FluidSynthRenderTest, PitchBendMovesThePitch) {
    OfflineSynth synth;
    // Full bend up: two semitones with the default bend range.
    ASSERT_EQ(synth.Play(Msg(0xE0, 0x7F, 0x7F)), S_OK);
    ASSERT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_NEAR(Listen(synth.RenderSeconds(0.5), synth.Rate()).pitch, kA4 * std::pow(2, 2 / 12.0),
                kA4 * 0.015);
}

TEST(FluidSynthRenderTest, SystemExclusiveReachesTheSynth) {
    // General MIDI System On resets every channel: the flute chosen before is gone.
    OfflineSynth synth;
    ASSERT_EQ(synth.Play(Msg(0xC0, 73)), S_OK);
    ASSERT_EQ(synth.PlayBytes({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), S_OK);
    ASSERT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
    const auto reset = LeftChannel(synth.RenderSeconds(0.5), 4410, 8820);

    OfflineSynth piano;
    ASSERT_EQ(piano.Play(Msg(0x90, 69, 127)), S_OK);
    const auto expected = LeftChannel(piano.RenderSeconds(0.5), 4410, 8820);
    const auto a = HarmonicProfile(reset, synth.Rate(), kA4, 6);
    const auto b = HarmonicProfile(expected, piano.Rate(), kA4, 6);
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR(a[i], b[i], 0.01);
}

TEST(FluidSynthRenderTest, MalformedEventsAreIgnored) {
    OfflineSynth synth;
    const std::vector<std::vector<BYTE>> hostile = {
        {0x90},              // status without data
        {0x90, 69},          // note-on short of its velocity
        {0x45, 0x7F},        // data bytes without status
        {0xF0},              // lone sysex start
        {0xF0, 0xF7},        // empty sysex
        {0xF0, 0x01, 0x02},  // unterminated sysex
        {0xF8},
        {0xFF},
        {0xF2, 0x7F, 0x7F},
        {0xC0},
        {0xE0, 0x10},
        {0x90, 0xFF, 0x7F},  // a status byte where data belongs
        {0x90, 0x45, 0x90},
    };
    for (const auto& bytes : hostile)
        EXPECT_EQ(synth.PlayBytes(bytes), S_OK);
    for (DWORD group : {3u, 17u, 0xFFFFFFFFu})
        EXPECT_EQ(synth.Play(Msg(0x90, 69, 127), group), S_OK);
    EXPECT_LT(Listen(synth.RenderSeconds(0.4), synth.Rate()).rms, kSilent);
}

TEST(FluidSynthRenderTest, RendererOutlivesItsPort) {
    std::shared_ptr<platform::fluidsynth::Renderer> renderer;
    {
        OfflineSynth synth;
        ASSERT_EQ(synth.Play(Msg(0x90, 69, 127)), S_OK);
        renderer = synth.renderer;
    }
    // The port is gone; its synth lives while the renderer holds it, silenced on the way out.
    EXPECT_EQ(renderer->Render(441).size(), 882u);
}

}  // namespace
}  // namespace tests::fluidsynth

namespace tests::fluidsynth {
namespace {

// Thru delivers into the synth through its sink, at once and only while the port is active.
TEST(FluidSynthRenderTest, ThruSinkPlaysWhileThePortIsActive) {
    OfflineSynth synth;
    std::shared_ptr<IMidiSink> sink;
    ASSERT_EQ(synth.port->QueryMidiSink(&sink), S_OK);
    const BYTE noteOn[] = {0x90, 69, 110};
    sink->Send(0, noteOn, 3);
    const auto sounding = synth.RenderSeconds(0.5);
    EXPECT_NEAR(PitchHz(LeftChannel(sounding, 4410, 8192), synth.Rate()), 440.0, 3.0);

    synth.port->Activate(FALSE);  // silences, and the sink stops playing
    sink->Send(0, noteOn, 3);
    synth.port.reset();  // the sink outlives its port
    sink->Send(0, noteOn, 3);
    // Only the effects' tail of the silenced note is left.
    const double loud = Rms(LeftChannel(sounding, 4410, 8192));
    EXPECT_LT(Rms(LeftChannel(synth.RenderSeconds(0.3), 4410, 8192)), loud / 30);
}

}  // namespace
}  // namespace tests::fluidsynth
