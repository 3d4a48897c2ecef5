#include "musicport/COutputPort.h"

#include <gmock/gmock.h>

#include "MusicPortFixture.h"
#include "musicport/MidiMsg.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kNoteOn = 0x007F3C90;
constexpr const char* kShort = "COutputPort::SendMidiMsg() short version";
constexpr const char* kLong = "COutputPort::SendMidiMsg() long version";

using OutputPort = MusicPortFixture;

TEST_F(OutputPort, ActivationOpensBuffersAndClocksThePort) {
    port.SetPortParams(0, 0, 1, 3, 44100);
    Activate(1);
    EXPECT_THAT(system.Log(), ElementsAre("EnumPort(0)", "EnumPort(1)", "CreatePort(Synth)",
                                          "Activate(Synth,1)", "CreateMusicBuffer(56)",
                                          "GetLatencyClock(Synth)", "QueryPortDownload(Synth)"));
    EXPECT_TRUE(synth.IsActive());
    EXPECT_NE(port.GetLatencyClock(), nullptr);
    EXPECT_NE(port.GetPortDownload(), nullptr);  // the synth offers downloadable sounds

    port.DeactivatePort();
    Activate(2);
    EXPECT_EQ(port.GetPortDownload(), nullptr);  // an external port does not
}

TEST_F(OutputPort, ShortMessageIsPackedPlayedAndFlushed) {
    Activate(1);
    system.ClearLog();
    EXPECT_EQ(port.SendMidiMsg(MakeMidiMsg(0x90, 0, 60, 127), 0), 0);
    EXPECT_THAT(system.Log(), ElementsAre("GetTime", "PackStructured(0,0x007f3c90)",
                                          "PlayBuffer(Synth)", "Flush"));
    // More messages than one 56-byte buffer holds at once: each send empties it again.
    for (BYTE note = 0; note < 10; ++note)
        port.SendMidiMsg(MakeMidiMsg(0x80, 0, note, 0), 2);
    EXPECT_EQ(synth.Played().size(), 11u);
    EXPECT_EQ(synth.Played().front(), kNoteOn);
    EXPECT_EQ(synth.Played().back(), 0x00000980u);
    EXPECT_THAT(midiOut.Played(), IsEmpty());
    EXPECT_THAT(midiIn.Played(), IsEmpty());
}

TEST_F(OutputPort, SendsWithoutAnActivePortThrowMinusOne) {
    const std::vector<BYTE> sysex{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    auto sendBoth = [&] {
        const Thrown shortSend = Catch([&] { port.SendMidiMsg(kNoteOn, 0); });
        EXPECT_EQ(shortSend.code, -1);
        EXPECT_EQ(shortSend.label, kShort);
        const Thrown longSend = Catch([&] { port.SendMidiMsg(sysex.data(), 6, 0); });
        EXPECT_EQ(longSend.code, -1);
        EXPECT_EQ(longSend.label, kLong);
    };
    sendBoth();  // never activated

    COutputPort unbound;  // not even initialised
    EXPECT_EQ(Catch([&] { unbound.SendMidiMsg(kNoteOn, 0); }).label, kShort);

    Activate(1);
    port.SendMidiMsg(kNoteOn, 0);
    port.SendMidiMsg(sysex.data(), 6, 0);
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));
    EXPECT_THAT(synth.PlayedLong(), ElementsAre(sysex));

    port.DeactivatePort();
    system.ClearLog();
    sendBoth();
    EXPECT_THAT(system.Log(), IsEmpty());
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));

    Activate(1);
    EXPECT_EQ(Catch([&] { port.SendMidiMsg(nullptr, 6, 0); }).code, -1);
}

TEST_F(OutputPort, SecondActivationIsRefusedAndTheFirstKeepsWorking) {
    Activate(1);
    const PortInfo other = Info(2);
    const Thrown t = Catch([&] { port.ActivatePort(&other, 32); });
    EXPECT_EQ(t.code, -1);
    EXPECT_EQ(t.label, "COutputPort::ActivatePort()");
    EXPECT_EQ(midiOut.OpenCount(), 0);
    EXPECT_EQ(synth.OpenCount(), 1);

    port.SendMidiMsg(kNoteOn, 0);
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));
}

TEST_F(OutputPort, DeactivationReleasesEverythingAndReportsActivate) {
    EXPECT_EQ(port.DeactivatePort(), -1);

    Activate(1);
    system.ClearLog();
    EXPECT_EQ(port.DeactivatePort(), pm::S_OK);
    EXPECT_THAT(system.Log(), ElementsAre("Activate(Synth,0)", "ReleasePort(Synth)"));
    EXPECT_EQ(synth.OpenCount(), 0);
    EXPECT_FALSE(synth.IsActive());
    EXPECT_EQ(port.GetLatencyClock(), nullptr);
    EXPECT_EQ(port.ReleaseBuffer(), 1);
    EXPECT_EQ(port.DeactivatePort(), -1);

    // A failing switch-off is returned, not thrown, and the port is released all the same.
    Activate(2);
    midiOut.FailOn("Deactivate", pm::DMUS_E_DRIVER_FAILED);
    EXPECT_EQ(port.DeactivatePort(), pm::DMUS_E_DRIVER_FAILED);
    EXPECT_EQ(midiOut.OpenCount(), 0);

    // Parameters survive deactivation.
    port.SetPortParams(0, 0, 1, 3, 44100);
    Activate(1);
    port.DeactivatePort();
    Activate(1);
    EXPECT_EQ(synth.LastParams()->dwValidParams, 0x2Au);
}

TEST_F(OutputPort, DestructorDeactivates) {
    {
        COutputPort scoped;
        scoped.Initialize(music);
        PortInfo info{};
        scoped.GetPortInfo(2, &info);
        scoped.ActivatePort(&info, 32);
        EXPECT_TRUE(midiOut.IsActive());
        system.ClearLog();
    }
    EXPECT_THAT(system.Log(), ElementsAre("Activate(MIDI Out,0)", "ReleasePort(MIDI Out)"));
}

// Each activation step failing: what the port keeps, and how it recovers.
TEST_F(OutputPort, FailedActivationStepsLeaveWhatWasAcquired) {
    struct Case {
        const char* call;
        bool systemLevel;
        const char* label;
        int openAfter;     // port objects held after the failure
        bool activeAfter;  // port switched on after the failure
    };
    for (const Case& c : {
             Case{"CreatePort", false, "CMidiPort::ActivatePort()", 0, false},
             Case{"Activate", false, "CMidiPort::ActivatePort()", 1, false},
             Case{"CreateMusicBuffer", true, "CMidiPort::ActivatePort()", 1, true},
             Case{"GetLatencyClock", false, "COutputPort::ActivatePort()", 1, true},
         }) {
        SCOPED_TRACE(c.call);
        if (c.systemLevel)
            system.FailOn(c.call, pm::DSERR_NODRIVER);
        else
            synth.FailOn(c.call, pm::DSERR_NODRIVER);
        const PortInfo info = Info(1);
        const Thrown t = Catch([&] { port.ActivatePort(&info, 32); });
        EXPECT_EQ(t.code, pm::DSERR_NODRIVER);
        EXPECT_EQ(t.label, c.label);
        EXPECT_EQ(synth.OpenCount(), c.openAfter);
        EXPECT_EQ(synth.IsActive(), c.activeAfter);
        EXPECT_EQ(Catch([&] { port.SendMidiMsg(kNoteOn, 0); }).code, -1);

        system.ClearFailure(c.call);
        synth.ClearFailure(c.call);
        if (c.openAfter > 0) {
            // A held port blocks reactivation until DeactivatePort.
            EXPECT_EQ(Catch([&] { port.ActivatePort(&info, 32); }).code, -1);
            EXPECT_EQ(port.DeactivatePort(), pm::S_OK);
        } else {
            EXPECT_EQ(port.DeactivatePort(), -1);
        }
        EXPECT_EQ(synth.OpenCount(), 0);
        const auto playedBefore = synth.Played().size();
        port.ActivatePort(&info, 32);
        port.SendMidiMsg(kNoteOn, 0);
        EXPECT_EQ(synth.Played().size(), playedBefore + 1);
        port.DeactivatePort();
    }
}

TEST_F(OutputPort, MissingDownloadInterfaceIsNotAnError) {
    synth.FailOn("QueryPortDownload", pm::E_NOINTERFACE);
    Activate(1);
    EXPECT_EQ(port.GetPortDownload(), nullptr);
    port.SendMidiMsg(kNoteOn, 0);
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));
}

TEST_F(OutputPort, ActivationWithoutARecordOrMusicObjectThrowsMinusOne) {
    EXPECT_EQ(Catch([&] { port.ActivatePort(nullptr, 32); }).label, "CMidiPort::ActivatePort()");
    COutputPort unbound;
    const PortInfo info = Info(1);
    EXPECT_EQ(Catch([&] { unbound.ActivatePort(&info, 32); }).code, -1);
    EXPECT_EQ(synth.OpenCount(), 0);
}

TEST_F(OutputPort, ActivationFromAnOpenedPort) {
    const Thrown nullPort = Catch([&] { port.ActivatePortFromInterface(nullptr, 32); });
    EXPECT_EQ(nullPort.code, -1);
    EXPECT_EQ(nullPort.label, "COutputPort::ActivatePortFromInterface()");

    auto open = [&](FakePort& which) {
        pm::DMUS_PORTPARAMS8 params;
        params.dwSize = sizeof params;
        std::unique_ptr<pm::IMusicPort> opened;
        EXPECT_EQ(music.GetMusic()->CreatePort(which.Caps().guidPort, &params, &opened), pm::S_OK);
        return opened;
    };
    auto opened = open(midiOut);
    system.ClearLog();
    EXPECT_EQ(port.ActivatePortFromInterface(std::move(opened), 32), 0);
    EXPECT_THAT(system.Log(),
                ElementsAre("Activate(MIDI Out,1)", "CreateMusicBuffer(56)",
                            "GetLatencyClock(MIDI Out)", "QueryPortDownload(MIDI Out)"));

    // While active, another port is refused and released; the active one keeps playing.
    EXPECT_EQ(Catch([&] { port.ActivatePortFromInterface(open(synth), 32); }).code, -1);
    EXPECT_EQ(synth.OpenCount(), 0);
    port.SendMidiMsg(kNoteOn, 0);
    EXPECT_THAT(midiOut.Played(), ElementsAre(kNoteOn));
}

TEST_F(OutputPort, EachFailingSendStepThrowsItsResult) {
    Activate(1);
    for (const char* call : {"GetTime", "PackStructured", "PlayBuffer", "Flush"}) {
        system.FailOn(call, pm::E_OUTOFMEMORY);
        const Thrown t = Catch([&] { port.SendMidiMsg(kNoteOn, 0); });
        EXPECT_EQ(t.code, pm::E_OUTOFMEMORY) << call;
        EXPECT_EQ(t.label, kShort) << call;
        system.ClearFailure(call);
        if (std::string_view(call) != "Flush") {
            EXPECT_THAT(synth.Played(), IsEmpty()) << call;
        }
    }
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));  // played, then Flush failed

    // A message that is no valid short message fails in the pack step.
    EXPECT_EQ(Catch([&] { port.SendMidiMsg(0x00003C10, 0); }).code, pm::DMUS_E_INVALID_EVENT);
}

TEST_F(OutputPort, FailedPlayLeavesNothingToReplay) {
    Activate(1);
    synth.FailOn("PlayBuffer", pm::DMUS_E_DRIVER_FAILED);
    EXPECT_EQ(Catch([&] { port.SendMidiMsg(kNoteOn, 0); }).code, pm::DMUS_E_DRIVER_FAILED);
    synth.ClearFailure("PlayBuffer");
    port.SendMidiMsg(0x00003C80, 0);
    EXPECT_THAT(synth.Played(), ElementsAre(0x00003C80u));
}

TEST_F(OutputPort, SysexMustFitTheBufferSizedAtActivation) {
    Activate(1);                       // 32 bytes of system exclusive: a 56-byte buffer
    std::vector<BYTE> fits(36, 0x11);  // 20 + 36 rounds up to 56
    fits.front() = 0xF0;
    fits.back() = 0xF7;
    port.SendMidiMsg(fits.data(), DWORD(fits.size()), 0);
    EXPECT_THAT(synth.PlayedLong(), ElementsAre(fits));

    std::vector<BYTE> tooLong(37, 0x11);
    const Thrown t = Catch([&] { port.SendMidiMsg(tooLong.data(), DWORD(tooLong.size()), 0); });
    EXPECT_EQ(t.code, pm::DMUS_E_BUFFER_FULL);
    EXPECT_EQ(t.label, kLong);
    EXPECT_EQ(synth.PlayedLong().size(), 1u);

    port.SendMidiMsg(kNoteOn, 0);  // the buffer is still usable
    EXPECT_THAT(synth.Played(), ElementsAre(kNoteOn));
}

TEST_F(OutputPort, SetEffectSetsTheEffectsPropertyOrAcceptsItsAbsence) {
    const Thrown inactive = Catch([&] { port.SetEffect(3); });
    EXPECT_EQ(inactive.code, -1);
    EXPECT_EQ(inactive.label, "COutputPort::SetEffect()");

    Activate(1);
    system.ClearLog();
    EXPECT_EQ(port.SetEffect(pm::DMUS_EFFECT_REVERB | pm::DMUS_EFFECT_CHORUS), 0);
    EXPECT_THAT(system.Log(),
                ElementsAre("QueryKsControl(Synth)", "KsProperty(Synth,Effects,0,2,3)"));
    EXPECT_EQ(synth.Effects(), 3u);
    port.SetEffect(0);
    EXPECT_EQ(synth.Effects(), 0u);

    synth.WithoutEffectsProperty();
    EXPECT_EQ(port.SetEffect(3), 0);  // silently accepted
    EXPECT_EQ(synth.Effects(), 0u);

    struct Case {
        const char* call;
        HRESULT result;
    };
    for (const Case& c : {Case{"KsProperty", pm::DMUS_E_SET_UNSUPPORTED},
                          Case{"QueryKsControl", pm::E_NOINTERFACE}}) {
        synth.FailOn(c.call, c.result);
        const Thrown t = Catch([&] { port.SetEffect(3); });
        EXPECT_EQ(t.code, c.result) << c.call;
        EXPECT_EQ(t.label, "COutputPort::SetEffect()");
        synth.ClearFailure(c.call);
    }
}

TEST_F(OutputPort, SynthQueriesPassThroughAndThrowMinusOneWhenInactive) {
    DWORD value = 0;
    pm::DMUS_SYNTHSTATS8 stats;
    pm::WAVEFORMATEX format;
    DWORD formatSize = 0, bufferSize = 0;
    struct Case {
        const char* label;
        std::function<void()> call;
    };
    const std::vector<Case> calls{
        {"COutputPort::CompactMemory()", [&] { port.CompactMemory(); }},
        {"COutputPort::GetChannelPriority()", [&] { port.GetChannelPriority(0, 9, &value); }},
        {"COutputPort::SetChannelPriority()", [&] { port.SetChannelPriority(0, 9, 5); }},
        {"COutputPort::GetSynthStats()", [&] { port.GetSynthStats(&stats); }},
        {"COutputPort::GetFormat()", [&] { port.GetFormat(&format, &formatSize, &bufferSize); }},
        {"COutputPort::GetNumChannelGroups()", [&] { port.GetNumChannelGroups(&value); }},
        {"COutputPort::SetNumChannelGroups()", [&] { port.SetNumChannelGroups(2); }},
    };
    for (const Case& c : calls) {
        const Thrown t = Catch(c.call);
        EXPECT_EQ(t.code, -1) << c.label;
        EXPECT_EQ(t.label, c.label);
    }

    Activate(1);
    for (const Case& c : calls)
        EXPECT_EQ(Catch(c.call).code, 0) << c.label;
    EXPECT_EQ(port.SetChannelPriority(0, 9, 7), 0);
    EXPECT_EQ(port.GetChannelPriority(0, 9, &value), pm::S_OK);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(stats.dwSize, 36u);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(port.GetNumChannelGroups(&value), 0);
    EXPECT_EQ(value, 2u);

    // Null out-pointers are refused before the platform sees them.
    EXPECT_EQ(Catch([&] { port.GetChannelPriority(0, 0, nullptr); }).code, -1);
    EXPECT_EQ(Catch([&] { port.GetSynthStats(nullptr); }).code, -1);
    EXPECT_EQ(Catch([&] { port.GetFormat(&format, nullptr, &bufferSize); }).code, -1);
    EXPECT_EQ(Catch([&] { port.GetNumChannelGroups(nullptr); }).code, -1);

    // Platform failures throw, except GetChannelPriority's, which is returned.
    synth.FailOn("Compact", pm::DMUS_E_SYNTHACTIVE);
    EXPECT_EQ(Catch([&] { port.CompactMemory(); }).code, pm::DMUS_E_SYNTHACTIVE);
    synth.FailOn("GetChannelPriority", pm::E_INVALIDARG);
    EXPECT_EQ(port.GetChannelPriority(0, 9, &value), pm::E_INVALIDARG);
    synth.FailOn("GetRunningStats", pm::E_FAIL);
    EXPECT_EQ(Catch([&] { port.GetSynthStats(&stats); }).code, pm::E_FAIL);
}

TEST(DirectMusic, InitializeCreatesAndBindsTheMusicObject) {
    namespace pm = platform::music;
    pm::fake::FakeMusicSystem system;
    CDirectMusic music(system);
    EXPECT_EQ(music.GetMusic(), nullptr);
    int window = 0;
    EXPECT_EQ(music.Initialize(&window, nullptr), 0);
    EXPECT_NE(music.GetMusic(), nullptr);
    EXPECT_THAT(system.Log(), ElementsAre("CreateMusic", "SetDirectSound"));
    // A second music object would leave ports with a dangling one.
    EXPECT_EQ(Catch([&] { music.Initialize(&window, nullptr); }).code, -1);
}

TEST(DirectMusic, EitherFailingCallThrowsItsResultAndKeepsNothing) {
    namespace pm = platform::music;
    for (const char* call : {"CreateMusic", "SetDirectSound"}) {
        pm::fake::FakeMusicSystem system;
        system.FailOn(call, pm::E_FAIL);
        CDirectMusic music(system);
        const Thrown t = Catch([&] { music.Initialize(nullptr, nullptr); });
        EXPECT_EQ(t.code, pm::E_FAIL) << call;
        EXPECT_EQ(t.label, "CDirectMusic::Initialize()");
        EXPECT_EQ(music.GetMusic(), nullptr);
        system.ClearFailure(call);
        EXPECT_EQ(music.Initialize(nullptr, nullptr), 0);  // a retry can succeed
    }
}

}  // namespace
}  // namespace musicport::test
