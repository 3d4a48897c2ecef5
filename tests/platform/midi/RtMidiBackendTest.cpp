// External MIDI ports on a real JACK server (dummy driver) against a JACK client of the
// test's own; the ALSA sequencer, absent on these machines, must only list nothing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/midi/JackBackend.h"
#include "platform/midi/JackServer.h"
#include "platform/midi/OwnMidiOutput.h"
#include "platform/midi/PortIdentity.h"
#include "platform/midi/RtMidiBackend.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/midi/JackPeer.h"

namespace {

namespace pm = platform::music;
using platform::midi::MidiApi;
using platform::midi::RtMidiBackend;
using tests::midi::JackPeer;

std::string Description(const pm::DMUS_PORTCAPS& caps) {
    std::string text;
    for (char16_t c : caps.wszDescription) {
        if (c == 0)
            break;
        text.push_back(char(c));
    }
    return text;
}

const pm::DMUS_PORTCAPS* Find(const std::vector<pm::DMUS_PORTCAPS>& ports,
                              const std::string& description) {
    const auto it = std::find_if(ports.begin(), ports.end(), [&](const pm::DMUS_PORTCAPS& c) {
        return Description(c) == description;
    });
    return it == ports.end() ? nullptr : &*it;
}

std::unique_ptr<pm::IMusicPort> Open(pm::IPortBackend& backend, const pm::DMUS_PORTCAPS& caps) {
    pm::DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    std::unique_ptr<pm::IMusicPort> port;
    EXPECT_EQ(backend.CreatePort(caps.guidPort, &params, &port), pm::S_OK);
    EXPECT_EQ(port->Activate(pm::TRUE), pm::S_OK);
    return port;
}

TEST(RtMidiAlsa, MissingSequencerListsNothing) {
    RtMidiBackend alsa(MidiApi::AlsaSequencer);
    std::vector<pm::DMUS_PORTCAPS> ports;
    alsa.ListPorts(ports);
    if (!alsa.Available()) {
        EXPECT_TRUE(ports.empty());
    }
    pm::DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    std::unique_ptr<pm::IMusicPort> port;
    EXPECT_EQ(alsa.CreatePort(pm::GUID{1, 2, 3, {}}, &params, &port), pm::E_INVALIDARG);
}

TEST(PortIdentity, IdentifiersFollowApiClassAndName) {
    using platform::midi::PortGuid;
    EXPECT_EQ(PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:b"),
              PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:b"));
    EXPECT_NE(PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:b"),
              PortGuid(MidiApi::Jack, pm::DMUS_PC_INPUTCLASS, "a:b"));
    EXPECT_NE(PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:b"),
              PortGuid(MidiApi::AlsaSequencer, pm::DMUS_PC_OUTPUTCLASS, "a:b"));
    EXPECT_NE(PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:b"),
              PortGuid(MidiApi::Jack, pm::DMUS_PC_OUTPUTCLASS, "a:c"));
    const pm::DMUS_PORTCAPS caps =
        platform::midi::ExternalPortCaps(MidiApi::Jack, pm::DMUS_PC_INPUTCLASS, "Flügel:out");
    EXPECT_EQ(caps.wszDescription[8], u'ü');
    EXPECT_EQ(caps.dwType, pm::DMUS_PORT_WINMM_DRIVER);
    EXPECT_EQ(caps.dwFlags & (pm::DMUS_PC_DLS | pm::DMUS_PC_DLS2), 0u);
    EXPECT_EQ(caps.dwMaxChannelGroups, 1u);
}

class RtMidiJack : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tests::midi::JackRunning())
            GTEST_SKIP() << "no JACK server (./test starts one)";
        peer = std::make_unique<JackPeer>();
    }
    std::vector<pm::DMUS_PORTCAPS> List() {
        std::vector<pm::DMUS_PORTCAPS> ports;
        backend.ListPorts(ports);
        return ports;
    }

    std::shared_ptr<platform::midi::JackServer> server =
        std::make_shared<platform::midi::JackServer>();
    platform::midi::JackBackend backend{server};
    std::unique_ptr<JackPeer> peer;
};

TEST_F(RtMidiJack, ListsDestinationsAndSourcesWithTheirRecords) {
    const auto ports = List();
    const pm::DMUS_PORTCAPS* out = Find(ports, "JACK: ts-peer-rec:in");
    const pm::DMUS_PORTCAPS* in = Find(ports, "JACK: ts-peer:out");
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(out->dwClass, pm::DMUS_PC_OUTPUTCLASS);
    EXPECT_EQ(in->dwClass, pm::DMUS_PC_INPUTCLASS);
    EXPECT_EQ(out->guidPort, List()[std::size_t(out - ports.data())].guidPort);
    EXPECT_NE(out->guidPort, in->guidPort);
}

TEST_F(RtMidiJack, OwnPortsAreNeverListed) {
    const auto ports = List();
    const auto port = Open(backend, *Find(ports, "JACK: ts-peer-rec:in"));
    for (const pm::DMUS_PORTCAPS& caps : List())
        EXPECT_THAT(Description(caps), ::testing::Not(::testing::HasSubstr("Tunestead")));
}

TEST_F(RtMidiJack, OutputPortSendsToTheDestination) {
    const auto port = Open(backend, *Find(List(), "JACK: ts-peer-rec:in"));
    pm::EventBuffer buffer(56);
    buffer.PackStructured(0, 0, 0x00453C90);
    ASSERT_EQ(port->PlayBuffer(buffer), pm::S_OK);
    buffer.Flush();
    const pm::BYTE sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    buffer.PackUnstructured(0, 0, sizeof sysex, sysex);
    ASSERT_EQ(port->PlayBuffer(buffer), pm::S_OK);
    EXPECT_THAT(peer->WaitFor(2),
                ::testing::ElementsAre(std::vector<unsigned char>{0x90, 0x3C, 0x45},
                                       std::vector<unsigned char>(sysex, sysex + 6)));
    // The thru sink outlives the port: once closed it drops, and a reopened port sends again.
    std::shared_ptr<pm::IMidiSink> sink;
    ASSERT_EQ(port->QueryMidiSink(&sink), pm::S_OK);
    EXPECT_EQ(port->Activate(pm::FALSE), pm::S_OK);
    EXPECT_EQ(port->PlayBuffer(buffer), pm::DMUS_E_SYNTHINACTIVE);
    const pm::BYTE noteOff[] = {0x80, 0x3C, 0x00};
    sink->Send(0, noteOff, 3);
    ASSERT_EQ(port->Activate(pm::TRUE), pm::S_OK);
    const pm::BYTE again[] = {0x90, 0x3E, 0x40};
    sink->Send(0, again, 3);
    EXPECT_THAT(peer->WaitFor(3)[2], ::testing::ElementsAre(0x90, 0x3E, 0x40));
}

TEST_F(RtMidiJack, InputQueuesMessagesAndThruForwardsRemapped) {
    const auto ports = List();
    const auto input = Open(backend, *Find(ports, "JACK: ts-peer:out"));
    const auto output = Open(backend, *Find(ports, "JACK: ts-peer-rec:in"));
    std::shared_ptr<pm::IMidiInput> queue;
    std::shared_ptr<pm::IMusicThru> thru;
    ASSERT_EQ(input->QueryMidiInput(&queue), pm::S_OK);
    ASSERT_EQ(input->QueryThru(&thru), pm::S_OK);
    auto notified = std::make_shared<pm::AutoResetEvent>();
    queue->SetReadNotificationHandle(notified);
    ASSERT_EQ(thru->ThruChannel(1, 0, 0, 2, output.get()), pm::S_OK);

    peer->Send({0x90, 69, 100});  // channel 1: comes back on channel 3
    peer->Send({0x95, 70, 100});  // channel 6: not connected
    notified->Wait();
    EXPECT_THAT(peer->WaitFor(1)[0], ::testing::ElementsAre(0x92, 69, 100));

    pm::EventBuffer buffer(56);
    std::vector<std::vector<pm::BYTE>> read;
    while (read.size() < 2) {
        if (queue->Read(buffer) != pm::S_OK) {
            notified->Wait();
            continue;
        }
        buffer.ResetReadPtr();
        pm::DWORD length = 0;
        const pm::BYTE* data = nullptr;
        while (buffer.GetNextEvent(nullptr, nullptr, &length, &data) == pm::S_OK)
            read.emplace_back(data, data + length);
    }
    EXPECT_THAT(read, ::testing::ElementsAre(std::vector<pm::BYTE>{0x90, 69, 100},
                                             std::vector<pm::BYTE>{0x95, 70, 100}));
    EXPECT_EQ(peer->Received().size(), 1u);
}

TEST_F(RtMidiJack, AVanishedPortCannotBeActivated) {
    const pm::DMUS_PORTCAPS caps = *Find(List(), "JACK: ts-peer-rec:in");
    pm::DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    std::unique_ptr<pm::IMusicPort> port;
    ASSERT_EQ(backend.CreatePort(caps.guidPort, &params, &port), pm::S_OK);
    peer.reset();
    EXPECT_EQ(port->Activate(pm::TRUE), pm::DMUS_E_DRIVER_FAILED);
    EXPECT_EQ(Find(List(), "JACK: ts-peer-rec:in"), nullptr);
}

}  // namespace

namespace {

TEST_F(RtMidiJack, OwnOutputPortCarriesWhatIsSentAndIsNotOfferedToItself) {
    platform::midi::OwnMidiOutput own(server);
    ASSERT_EQ(own.Systems(), 1u);  // JACK; no ALSA sequencer here
    for (const pm::DMUS_PORTCAPS& caps : List())
        EXPECT_THAT(Description(caps), ::testing::Not(::testing::HasSubstr("Tunestead")));

    // Another program connects its input to the player's port.
    RtMidiIn listener(RtMidi::UNIX_JACK, "ts-listener");
    std::vector<std::vector<unsigned char>> heard;
    std::mutex mutex;
    std::condition_variable arrived;
    struct Context {
        std::vector<std::vector<unsigned char>>* heard;
        std::mutex* mutex;
        std::condition_variable* arrived;
    } context{&heard, &mutex, &arrived};
    listener.setCallback(
        [](double, std::vector<unsigned char>* message, void* user) {
            auto* c = static_cast<Context*>(user);
            {
                std::lock_guard lock(*c->mutex);
                c->heard->push_back(*message);
            }
            c->arrived->notify_all();
        },
        &context);
    unsigned index = listener.getPortCount();
    for (unsigned i = 0; i < listener.getPortCount(); ++i)
        if (listener.getPortName(i).starts_with("Tunestead"))
            index = i;
    ASSERT_LT(index, listener.getPortCount()) << "no Tunestead port to connect to";
    listener.openPort(index, "in");

    // The server applies a new connection from a later process cycle on: what the port
    // sends before then reaches no one, so the note goes out again until it is heard.
    const pm::BYTE noteOn[] = {0x90, 60, 127};
    std::unique_lock lock(mutex);
    bool came = false;
    for (int attempt = 0; attempt < 200 && !came; ++attempt) {
        lock.unlock();
        own.Send(0, noteOn, 3);
        lock.lock();
        came =
            arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return !heard.empty(); });
    }
    ASSERT_TRUE(came) << "nothing came through the own port in 20 s";
    EXPECT_EQ(heard[0], (std::vector<unsigned char>{0x90, 60, 127}));
}

}  // namespace
