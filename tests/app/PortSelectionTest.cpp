// Port and instrument selection over the fake platform: start-up order, the lists in both
// instrument modes, the three selection handlers with their message boxes, shut-down and
// ports that come and go.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/CInputReceiver.h"
#include "app/IUserPrompts.h"
#include "app/PortSelection.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "platform/music/ResultCodes.h"
#include "tests/support/music/FakeMusicSystem.h"

namespace {

namespace pm = platform::music;
using pm::DWORD;
using pm::fake::FakeMusicSystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Prompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view, app::PromptIcon) override {
        shown.emplace_back(text);
    }
    std::vector<std::string> shown;
};

// The three lists as plain vectors; selections are set by the test before a handler runs.
class ListsView final : public app::IPortSelectionView {
public:
    void AddOutputPort(std::string_view text, DWORD flags) override {
        outputs.emplace_back(text);
        outputFlags.push_back(flags);
    }
    void SelectOutputPort(int position) override { output = position; }
    int OutputPortSelection() const override { return output; }
    void AddInputPort(std::string_view text) override { inputs.emplace_back(text); }
    void SelectInputPort(int position) override { input = position; }
    int InputPortSelection() const override { return input; }
    void ClearInstruments() override {
        instruments.clear();
        instrument = -1;
    }
    void AddInstrument(std::string_view text) override { instruments.emplace_back(text); }
    void SelectInstrument(int position) override { instrument = position; }
    int InstrumentSelection() const override { return instrument; }
    void FocusDialog() override { ++focused; }
    void ShutdownAndClose() override { ++shutdowns; }

    std::vector<std::string> outputs;
    std::vector<DWORD> outputFlags;
    std::vector<std::string> inputs;
    std::vector<std::string> instruments;
    int output = -1;
    int input = -1;
    int instrument = -1;
    int focused = 0;
    int shutdowns = 0;
};

class PortSelectionTest : public ::testing::Test {
protected:
    PortSelectionTest() {
        system.AddPort("Kernel In", pm::DMUS_PC_INPUTCLASS).Type(pm::DMUS_PORT_KERNEL_MODE);
        system.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS)
            .Flags(pm::DMUS_PC_DLS | pm::DMUS_PC_SOFTWARESYNTH)
            .EffectFlags(pm::DMUS_EFFECT_REVERB | pm::DMUS_EFFECT_CHORUS);
        system.AddPort("External", pm::DMUS_PC_OUTPUTCLASS)
            .Flags(pm::DMUS_PC_EXTERNAL)
            .Type(pm::DMUS_PORT_WINMM_DRIVER)
            .Limits(0, 0, 1, 0);
        system.AddPort("MIDI In", pm::DMUS_PC_INPUTCLASS);
        system.AddPort("Second In", pm::DMUS_PC_INPUTCLASS);
        ports.Bind(&view);
    }

    void Start() {
        music.Initialize(nullptr, nullptr);
        ports.InitMusicPorts();
        if (!ports.IsDlsMode())
            ports.FillGMInstrumentList();
        system.ClearLog();
        prompts.shown.clear();
    }
    // The log entries that name one of `calls`, in order.
    std::vector<std::string> LogOf(std::initializer_list<std::string_view> calls) {
        std::vector<std::string> out;
        for (const std::string& entry : system.Log())
            for (std::string_view call : calls)
                if (entry.starts_with(call))
                    out.push_back(entry);
        return out;
    }

    FakeMusicSystem system;
    Prompts prompts;
    ListsView view;
    musicport::CDirectMusic music{system};
    musicport::COutputPort outputPort;
    app::CInputReceiver receiver;  // outlives the input port's notification thread
    musicport::CInputPort inputPort;
    musicport::CDLSLoader loader{system};
    musicport::CCollection collection;
    musicport::CInstrument instrument;
    app::PortSelection ports{
        {music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts};
};

TEST_F(PortSelectionTest, StartUpBringsPortsUpInOrderAndListsTheCollection) {
    music.Initialize(nullptr, nullptr);
    system.ClearLog();
    ports.InitMusicPorts();
    EXPECT_THAT(
        LogOf({"CreateLoader", "CreatePort", "GetCollection", "DownloadInstrument",
               "PackStructured", "KsProperty", "SetReadNotificationHandle", "ThruChannel"}),
        ElementsAre("CreateLoader", "CreatePort(Synth)", "GetCollection(default)",
                    "DownloadInstrument(Synth,0x00000001)", "PackStructured(0,0x000001c0)",
                    "KsProperty(Synth,Effects,0,2,3)", "CreatePort(MIDI In)",
                    "SetReadNotificationHandle(MIDI In,1)", "ThruChannel(MIDI In,1,0,0,0,Synth)"));
    EXPECT_THAT(view.outputs, ElementsAre("Synth", "External"));
    EXPECT_EQ(view.outputFlags[0], pm::DMUS_PC_DLS | pm::DMUS_PC_SOFTWARESYNTH);
    EXPECT_THAT(view.inputs, ElementsAre("MIDI In", "Second In"));  // kernel ports left out
    EXPECT_THAT(view.instruments, ElementsAre("0 Piano", "1 Bright Piano", "2 Standard"));
    EXPECT_EQ(view.output, 0);
    EXPECT_EQ(view.input, 0);
    EXPECT_EQ(view.instrument, 0);
    EXPECT_TRUE(ports.IsDlsMode());
    EXPECT_TRUE(inputPort.IsNotificationRunning());
    EXPECT_THAT(prompts.shown, IsEmpty());
    const auto params = system.Port("Synth").LastParams();
    EXPECT_EQ(params->dwVoices, 0u);
    EXPECT_EQ(params->dwChannelGroups, 1u);
    EXPECT_EQ(params->dwSampleRate, 44100u);
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, WithoutInputPortsStartUpEndsSilently) {
    system.Port("MIDI In").Listed(false);
    system.Port("Second In").Listed(false);
    Start();
    EXPECT_THAT(view.inputs, IsEmpty());
    EXPECT_THAT(prompts.shown, IsEmpty());
    EXPECT_EQ(view.shutdowns, 0);
    EXPECT_FALSE(inputPort.IsNotificationRunning());
}

TEST_F(PortSelectionTest, InstrumentChoicesInCollectionModeAllPlayAsProgramOne) {
    Start();
    view.instrument = 2;  // the drum kit
    ports.OnSelchangeInstrument();
    EXPECT_THAT(LogOf({"UnloadInstrument", "GetInstrument", "SetPatch", "DownloadInstrument",
                       "PackStructured"}),
                ElementsAre("UnloadInstrument(Synth,0x00000001)", "GetInstrument(0x80000000)",
                            "SetPatch(0x00000001)", "DownloadInstrument(Synth,0x00000001)",
                            "PackStructured(0,0x000001c0)"));
    EXPECT_THAT(system.Downloaded(), ElementsAre(1u));  // one instrument at a time
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, InstrumentFailuresShowTheirBoxes) {
    struct Case {
        const char* failing;  // fake call that fails, or null
        pm::HRESULT code;
        int selection;
        std::vector<std::string> boxes;
    };
    const std::vector<Case> cases = {
        {nullptr, 0, 7, {"No instrument with that index"}},
        {nullptr, 0, -1, {"No instrument with that index"}},
        {"GetInstrument", pm::DMUS_E_INVALIDPATCH, 1, {"Invalid patch in collection"}},
        {"DownloadInstrument", pm::E_OUTOFMEMORY, 1, {"Insufficient memory to complete the task"}},
        {"SetPatch", pm::E_FAIL, 1, {}},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        if (c.failing != nullptr)
            system.FailOn(c.failing, c.code);
        prompts.shown.clear();
        system.ClearLog();
        view.instrument = c.selection;
        ports.OnSelchangeInstrument();
        EXPECT_EQ(prompts.shown, c.boxes);
        EXPECT_THAT(LogOf({"PackStructured"}), IsEmpty()) << "no program change after a failure";
        if (c.failing != nullptr)
            system.ClearFailure(c.failing);
    }
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, SwitchingToAPortWithoutDownloadsListsGeneralMidiAndSendsNothing) {
    Start();
    view.output = 1;
    ports.OnSelchangeOutputPort();
    EXPECT_THAT(
        LogOf({"UnloadInstrument", "Activate", "CreatePort", "PackStructured", "ThruChannel"}),
        ElementsAre("UnloadInstrument(Synth,0x00000001)", "Activate(Synth,0)",
                    "CreatePort(External)", "Activate(External,1)",
                    "ThruChannel(MIDI In,1,0,0,0,null)", "ThruChannel(MIDI In,1,0,0,0,External)"));
    EXPECT_FALSE(ports.IsDlsMode());
    ASSERT_EQ(view.instruments.size(), 128u);
    EXPECT_EQ(view.instruments[0], "1 Acoustic Grand Piano");
    EXPECT_EQ(view.instrument, 0);
    EXPECT_EQ(ports.OutputPortIndex(), 1);
    EXPECT_EQ(view.focused, 1);

    // Picking program p now sends program change p on channel 0.
    system.ClearLog();
    view.instrument = 5;
    ports.OnSelchangeInstrument();
    EXPECT_THAT(LogOf({"PackStructured"}), ElementsAre("PackStructured(0,0x000005c0)"));

    // And back: the collection again, instrument 0 as program 1, effects on.
    system.ClearLog();
    view.output = 0;
    ports.OnSelchangeOutputPort();
    EXPECT_TRUE(ports.IsDlsMode());
    EXPECT_THAT(LogOf({"GetCollection", "PackStructured", "KsProperty"}),
                ElementsAre("GetCollection(default)", "PackStructured(0,0x000001c0)",
                            "KsProperty(Synth,Effects,0,2,3)"));
    const auto params = system.Port("Synth").LastParams();
    EXPECT_EQ(params->dwVoices, 256u);  // a port chosen later asks for its own maximum
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, OutputActivationFailuresShowTheirBoxAndGoOn) {
    Start();
    for (const auto& [code, box] :
         {std::pair{pm::E_OUTOFMEMORY, "Insufficient memory to complete the task"},
          std::pair{pm::DMUS_E_DRIVER_FAILED,
                    "An error happened during the output port "
                    "activation"}}) {
        system.Port("External").FailOn("Activate", code);
        prompts.shown.clear();
        view.output = 1;
        ports.OnSelchangeOutputPort();
        EXPECT_THAT(prompts.shown, ElementsAre(box));
        EXPECT_EQ(view.instruments.size(), 128u);  // the handler went on
        EXPECT_EQ(ports.OutputPortIndex(), 1);
        view.output = 0;
        system.Port("External").ClearFailure("Activate");
        ports.OnSelchangeOutputPort();
    }
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, PickingTheSelectedEntryChangesNothing) {
    Start();
    view.output = 0;
    ports.OnSelchangeOutputPort();
    view.input = 0;
    ports.OnSelchangeInputPort();
    EXPECT_THAT(system.Log(), IsEmpty());
    EXPECT_EQ(view.focused, 0);
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, SwitchingTheInputPortRestartsNotificationAndThru) {
    Start();
    view.input = 1;
    ports.OnSelchangeInputPort();
    EXPECT_THAT(
        LogOf({"SetReadNotificationHandle", "ThruChannel", "Activate", "CreatePort"}),
        ElementsAre("SetReadNotificationHandle(MIDI In,0)", "ThruChannel(MIDI In,1,0,0,0,null)",
                    "Activate(MIDI In,0)", "CreatePort(Second In)", "Activate(Second In,1)",
                    "SetReadNotificationHandle(Second In,1)",
                    "ThruChannel(Second In,1,0,0,0,Synth)"));
    EXPECT_EQ(ports.InputPortIndex(), 1);
    EXPECT_TRUE(inputPort.IsNotificationRunning());

    system.Port("MIDI In").FailOn("CreatePort", pm::E_OUTOFMEMORY);
    view.input = 0;
    ports.OnSelchangeInputPort();
    EXPECT_THAT(prompts.shown, ElementsAre("Insufficient memory to complete the task"));
    EXPECT_EQ(ports.InputPortIndex(), 1);  // unchanged
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, ShutDownInOrder) {
    Start();
    int stopEventClosed = 0;
    ports.Shutdown([&] {
        ++stopEventClosed;
        system.ClearLog();  // what follows the event's closing
    });
    EXPECT_EQ(stopEventClosed, 1);
    EXPECT_THAT(system.Log(), ElementsAre("ThruChannel(MIDI In,1,0,0,0,null)",
                                          "SetReadNotificationHandle(MIDI In,0)"));
    EXPECT_FALSE(inputPort.IsNotificationRunning());
    EXPECT_THAT(system.Port("Synth").Played().back(), 0x7BB0u);
    EXPECT_THAT(system.Downloaded(), IsEmpty());
}

TEST_F(PortSelectionTest, PortsThatAppearAreAppendedAndAVanishedInputReleasesItsNotes) {
    Start();
    system.AddPort("Late Out", pm::DMUS_PC_OUTPUTCLASS);
    system.AddPort("Late In", pm::DMUS_PC_INPUTCLASS);
    int released = 0;
    EXPECT_TRUE(ports.RefreshPorts([&] { ++released; }));
    EXPECT_THAT(view.outputs, ElementsAre("Synth", "External", "Late Out"));
    EXPECT_THAT(view.inputs, ElementsAre("MIDI In", "Second In", "Late In"));
    EXPECT_EQ(view.output, 0);
    EXPECT_EQ(view.input, 0);
    EXPECT_FALSE(ports.RefreshPorts([&] { ++released; }));
    EXPECT_EQ(released, 0);

    system.Port("MIDI In").Listed(false);
    ports.RefreshPorts([&] { ++released; });
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(inputPort.IsNotificationRunning());
    EXPECT_THAT(view.inputs.size(), 3u);  // positions stay

    EXPECT_FALSE(ports.RefreshPorts([&] { ++released; }));  // still gone: nothing more
    EXPECT_EQ(released, 1);

    // It comes back under the same name while its entry is still shown: it is listened to
    // again without being picked (picking the entry shown would change nothing).
    system.Port("MIDI In").Listed(true);
    system.ClearLog();
    ports.RefreshPorts([&] { ++released; });
    EXPECT_EQ(ports.InputPortIndex(), 0);
    EXPECT_TRUE(inputPort.IsNotificationRunning());
    EXPECT_THAT(inputPort.GetThruList(), ElementsAre(musicport::ThruEntry{0, 0, 0}));
    EXPECT_THAT(LogOf({"CreatePort"}), ElementsAre("CreatePort(MIDI In)"));
    EXPECT_EQ(released, 1);
    ports.RefreshPorts([&] { ++released; });  // taken once, not at every poll
    EXPECT_THAT(LogOf({"CreatePort"}), ElementsAre("CreatePort(MIDI In)"));

    // Gone again while another entry is picked: its return changes nothing.
    system.Port("MIDI In").Listed(false);
    ports.RefreshPorts([&] { ++released; });
    view.input = 1;
    ports.OnSelchangeInputPort();
    system.Port("MIDI In").Listed(true);
    ports.RefreshPorts([&] { ++released; });
    EXPECT_EQ(ports.InputPortIndex(), 1);
    inputPort.DeactivateNotification();
}

TEST_F(PortSelectionTest, AnInputPortThatAppearsAfterAStartWithoutInputCanBePicked) {
    system.Port("MIDI In").Listed(false);
    system.Port("Second In").Listed(false);
    Start();
    system.Port("MIDI In").Listed(true);
    ports.RefreshPorts({});
    ASSERT_THAT(view.inputs, ElementsAre("MIDI In"));
    view.input = 0;
    ports.OnSelchangeInputPort();
    EXPECT_EQ(ports.InputPortIndex(), 0);
    EXPECT_TRUE(inputPort.IsNotificationRunning());
    EXPECT_EQ(inputPort.GetReceiver(), &receiver);
    inputPort.DeactivateNotification();
}

}  // namespace
