#include "musicport/CMidiPort.h"

#include <gmock/gmock.h>

#include <cstring>

#include "MusicPortFixture.h"

namespace musicport::test {
namespace {

using ::testing::ElementsAre;

// The input side of the shared base, to see enumeration by the other class.
class InputSide : public CMidiPort {
public:
    InputSide() : CMidiPort(pm::DMUS_PC_INPUTCLASS) {}
};

using Enumeration = MusicPortFixture;

TEST_F(Enumeration, CountsAndNumbersOnlyPortsOfItsOwnClass) {
    InputSide input;
    input.Initialize(music);

    EXPECT_EQ(port.GetNumPorts(), 2u);
    EXPECT_EQ(input.GetNumPorts(), 2u);

    struct Case {
        CMidiPort* object;
        DWORD number;
        const char* description;
    };
    for (const Case& c : {Case{&port, 1, "Synth"}, Case{&port, 2, "MIDI Out"},
                          Case{&input, 1, "MIDI In"}, Case{&input, 2, "Keyboard In"}}) {
        PortInfo info{};
        ASSERT_EQ(c.object->GetPortInfo(c.number, &info), pm::S_OK) << c.description;
        EXPECT_STREQ(info.szPortDescription.data(), c.description);
        EXPECT_EQ(info.guidPort, system.Port(c.description).Caps().guidPort);
    }
}

TEST_F(Enumeration, WalksFromIndexZeroEveryTime) {
    port.GetNumPorts();
    port.GetNumPorts();
    EXPECT_THAT(
        system.Log(),
        ElementsAre("EnumPort(0)", "EnumPort(1)", "EnumPort(2)", "EnumPort(3)", "EnumPort(4)",
                    "EnumPort(0)", "EnumPort(1)", "EnumPort(2)", "EnumPort(3)", "EnumPort(4)"));
    system.ClearLog();
    PortInfo info{};
    port.GetPortInfo(1, &info);  // stops at the first output port
    EXPECT_THAT(system.Log(), ElementsAre("EnumPort(0)", "EnumPort(1)"));

    system.AddPort("Late Synth", pm::DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(port.GetNumPorts(), 3u);  // nothing cached
}

TEST_F(Enumeration, PortNumbersOutsideTheListLeaveTheRecordUntouched) {
    for (const DWORD number : {0u, 3u, 4u, 0xFFFFFFFFu}) {
        PortInfo info;
        std::memset(static_cast<void*>(&info), 0xA5, sizeof info);
        PortInfo before;
        std::memcpy(static_cast<void*>(&before), &info, sizeof info);
        EXPECT_EQ(port.GetPortInfo(number, &info), pm::S_FALSE) << number;
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << number;
    }
}

TEST_F(Enumeration, RecordCarriesEveryCapability) {
    synth.Limits(128, 2, 4, 8 << 20);
    const PortInfo info = Info(1);
    const pm::DMUS_PORTCAPS caps = synth.Caps();
    EXPECT_EQ(info.dwFlags, pm::DMUS_PC_DLS | pm::DMUS_PC_SOFTWARESYNTH);
    EXPECT_EQ(info.dwClass, pm::DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(info.dwType, pm::DMUS_PORT_USER_MODE_SYNTH);
    EXPECT_EQ(info.dwMemorySize, 8u << 20);
    EXPECT_EQ(info.dwMaxAudioChannels, 2u);
    EXPECT_EQ(info.dwMaxVoices, 128u);
    EXPECT_EQ(info.dwMaxChannelGroups, 4u);
    EXPECT_EQ(info.dwEffectFlags, 3u);
    EXPECT_EQ(info.guidPort, caps.guidPort);
    EXPECT_EQ(Info(2).dwType, pm::DMUS_PORT_WINMM_DRIVER);
}

TEST_F(Enumeration, DescriptionBecomesUtf8CutOnACharacterBoundary) {
    struct Case {
        std::u16string description;
        std::string expected;
    };
    const std::u16string han127(127, u'\u4E2D');  // 3 UTF-8 bytes each
    std::string han42;
    for (int i = 0; i < 42; ++i)
        han42 += "\xE4\xB8\xAD";
    std::u16string emoji;  // 63 pairs: 126 code units, 4 UTF-8 bytes per pair
    for (int i = 0; i < 63; ++i)
        emoji += u"\U0001F3B9";
    std::string emoji31;
    for (int i = 0; i < 31; ++i)
        emoji31 += "\xF0\x9F\x8E\xB9";
    for (const Case& c : {
             Case{u"Synth", "Synth"},
             Case{u"Синтезатор",
                  "\xD0\xA1\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD0\xB7\xD0\xB0\xD1"
                  "\x82\xD0\xBE\xD1\x80"},
             Case{std::u16string(127, u'x'), std::string(127, 'x')},
             Case{han127, han42},  // 126 bytes: the 43rd character would need 129
             Case{emoji, emoji31}, Case{u"a\xD800z", "a\xEF\xBF\xBDz"},  // unpaired surrogate
         }) {
        synth.Description(c.description);
        const PortInfo info = Info(1);
        EXPECT_EQ(std::string(info.szPortDescription.data()), c.expected);
        EXPECT_EQ(info.szPortDescription.back(), '\0');
    }
}

TEST_F(Enumeration, FailuresAndMissingPreconditionsThrow) {
    system.FailOn("EnumPort", pm::E_OUTOFMEMORY);
    Thrown t = Catch([&] { port.GetNumPorts(); });
    EXPECT_EQ(t.code, pm::E_OUTOFMEMORY);
    EXPECT_EQ(t.label, "CMidiPort::GetNumPorts()");
    PortInfo info{};
    t = Catch([&] { port.GetPortInfo(1, &info); });
    EXPECT_EQ(t.code, pm::E_OUTOFMEMORY);
    EXPECT_EQ(t.label, "CMidiPort::GetPortInfo()");
    system.ClearFailure("EnumPort");

    t = Catch([&] { port.GetPortInfo(1, nullptr); });
    EXPECT_EQ(t.code, -1);

    COutputPort unbound;
    EXPECT_EQ(Catch([&] { unbound.GetNumPorts(); }).code, -1);
    EXPECT_EQ(Catch([&] { unbound.GetPortInfo(1, &info); }).code, -1);

    CDirectMusic uninitialised(system);
    t = Catch([&] { unbound.Initialize(uninitialised); });
    EXPECT_EQ(t.code, -1);
    EXPECT_EQ(t.label, "CMidiPort::Initialize()");
}

using PortParams = MusicPortFixture;

TEST_F(PortParams, FlagOnlyNonZeroValuesAndReachCreatePort) {
    struct Case {
        DWORD voices, audio, groups, effects, rate;
        DWORD valid;
    };
    for (const Case& c : {Case{0, 0, 1, 3, 44100, 0x2A}, Case{64, 2, 1, 0, 0, 0x07},
                          Case{0, 0, 0, 0, 0, 0}, Case{1, 1, 1, 1, 1, 0x2F}}) {
        port.SetPortParams(c.voices, c.audio, c.groups, c.effects, c.rate);
        Activate(1);
        const auto params = synth.LastParams();
        ASSERT_TRUE(params.has_value());
        EXPECT_EQ(params->dwSize, 36u);
        EXPECT_EQ(params->dwValidParams, c.valid);
        EXPECT_EQ(params->dwVoices, c.voices);
        EXPECT_EQ(params->dwAudioChannels, c.audio);
        EXPECT_EQ(params->dwChannelGroups, c.groups);
        EXPECT_EQ(params->dwEffectFlags, c.effects);
        EXPECT_EQ(params->dwSampleRate, c.rate);
        EXPECT_EQ(params->fShare, 0);
        port.DeactivatePort();
    }
}

using Buffers = MusicPortFixture;

TEST_F(Buffers, SetAndReleaseBuffer) {
    EXPECT_EQ(port.ReleaseBuffer(), 1);
    Activate(1);
    EXPECT_EQ(port.ReleaseBuffer(), 0);
    EXPECT_EQ(Catch([&] { port.SendMidiMsg(0x007F3C90, 0); }).code, -1);

    system.ClearLog();
    EXPECT_EQ(port.SetBuffer(100), 0);
    EXPECT_THAT(system.Log(), ElementsAre("CreateMusicBuffer(120)"));
    const std::vector<BYTE> sysex(100, 0x42);
    port.SendMidiMsg(sysex.data(), DWORD(sysex.size()), 0);
    EXPECT_THAT(synth.PlayedLong(), ElementsAre(sysex));

    system.FailOn("CreateMusicBuffer", pm::E_OUTOFMEMORY);
    const Thrown t = Catch([&] { port.SetBuffer(32); });
    EXPECT_EQ(t.code, pm::E_OUTOFMEMORY);
    EXPECT_EQ(t.label, "CMidiPort::SetBuffer()");
    EXPECT_EQ(port.ReleaseBuffer(), 1);

    COutputPort unbound;
    EXPECT_EQ(Catch([&] { unbound.SetBuffer(32); }).code, -1);
}

using Properties = MusicPortFixture;

TEST_F(Properties, KsPropertyReturnsUnknownPropertyAndThrowsOtherFailures) {
    DWORD value = 1;
    EXPECT_EQ(
        Catch([&] { port.KsProperty(pm::GUID_DMUS_PROP_Effects, 0, 2, &value, 4, nullptr); }).label,
        "CMidiPort::KsProperty()");
    Activate(1);
    EXPECT_EQ(
        port.KsProperty(pm::GUID_DMUS_PROP_Effects, 0, pm::KSPROPERTY_TYPE_SET, &value, 4, nullptr),
        pm::S_OK);
    EXPECT_EQ(synth.Effects(), 1u);
    EXPECT_EQ(port.KsProperty(pm::GUID_NULL, 0, pm::KSPROPERTY_TYPE_SET, &value, 4, nullptr),
              pm::DMUS_E_UNKNOWN_PROPERTY);

    synth.FailOn("KsProperty", pm::DMUS_E_SET_UNSUPPORTED);
    EXPECT_EQ(
        Catch([&] { port.KsProperty(pm::GUID_DMUS_PROP_Effects, 0, 2, &value, 4, nullptr); }).code,
        pm::DMUS_E_SET_UNSUPPORTED);
}

TEST_F(Properties, ActivatedPortInfoComesFromTheOpenPort) {
    PortInfo info{};
    const Thrown t = Catch([&] { port.GetActivatedPortInfo(&info); });
    EXPECT_EQ(t.code, -1);
    EXPECT_EQ(t.label, "CMidiPort::GetActivatedPortInfo()");

    Activate(2);
    EXPECT_EQ(port.GetActivatedPortInfo(&info), pm::S_OK);
    EXPECT_STREQ(info.szPortDescription.data(), "MIDI Out");
    EXPECT_EQ(info.guidPort, midiOut.Caps().guidPort);
    EXPECT_EQ(Catch([&] { port.GetActivatedPortInfo(nullptr); }).code, -1);

    midiOut.FailOn("GetCaps", pm::DMUS_E_DRIVER_FAILED);
    EXPECT_EQ(Catch([&] { port.GetActivatedPortInfo(&info); }).code, pm::DMUS_E_DRIVER_FAILED);
}

}  // namespace
}  // namespace musicport::test
