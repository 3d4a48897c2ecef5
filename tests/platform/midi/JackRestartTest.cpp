// JACK going away and coming back under the program: sends never wait on a stopped server,
// a new server is taken up (own port, lists, outputs), a full queue drops and counts, and
// nothing reaches stderr while no server runs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/midi/JackBackend.h"
#include "platform/midi/JackMidiOutput.h"
#include "platform/midi/JackServer.h"
#include "platform/midi/OwnMidiOutput.h"
#include "platform/midi/RtMidiBackend.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/midi/JackPeer.h"
#include "tests/platform/midi/JackServerProcess.h"

namespace {

namespace pm = platform::music;
using platform::midi::JackBackend;
using platform::midi::JackMidiOutput;
using platform::midi::JackServer;
using tests::midi::JackPeer;
using tests::midi::JackServerProcess;

// Sets JACK_DEFAULT_SERVER for the test's lifetime, as a user's session would.
class ServerNameScope {
public:
    explicit ServerNameScope(const std::string& name) {
        if (const char* old = std::getenv("JACK_DEFAULT_SERVER"))
            old_ = old;
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    }
    ~ServerNameScope() {
        if (old_.empty())
            unsetenv("JACK_DEFAULT_SERVER");
        else
            setenv("JACK_DEFAULT_SERVER", old_.c_str(), 1);
    }

private:
    std::string old_;
};

std::string Description(const pm::DMUS_PORTCAPS& caps) {
    std::string text;
    for (char16_t c : caps.wszDescription) {
        if (c == 0)
            break;
        text.push_back(char(c));
    }
    return text;
}

std::vector<std::string> Listed(pm::IPortBackend& backend) {
    std::vector<pm::DMUS_PORTCAPS> ports;
    backend.ListPorts(ports);
    std::vector<std::string> names;
    for (const pm::DMUS_PORTCAPS& caps : ports)
        names.push_back(Description(caps));
    return names;
}

std::unique_ptr<pm::IMusicPort> OpenListed(pm::IPortBackend& backend,
                                           const std::string& description) {
    std::vector<pm::DMUS_PORTCAPS> ports;
    backend.ListPorts(ports);
    for (const pm::DMUS_PORTCAPS& caps : ports) {
        if (Description(caps) != description)
            continue;
        pm::DMUS_PORTPARAMS8 params;
        params.dwSize = sizeof params;
        std::unique_ptr<pm::IMusicPort> port;
        if (backend.CreatePort(caps.guidPort, &params, &port) == pm::S_OK &&
            port->Activate(pm::TRUE) == pm::S_OK)
            return port;
    }
    return nullptr;
}

// Names of the MIDI inputs another program could connect to, through RtMidi as it would.
std::vector<std::string> SourcesSeenByAnotherProgram() {
    RtMidiIn lister(RtMidi::UNIX_JACK, "ts-lister");
    lister.setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
    std::vector<std::string> names;
    for (unsigned i = 0; i < lister.getPortCount(); ++i)
        names.push_back(lister.getPortName(i));
    return names;
}

template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool HaveJackd() {
    return std::system("command -v jackd >/dev/null 2>&1 && command -v jack_wait >/dev/null") == 0;
}

TEST(JackRestart, SendsNeverWaitOnAStoppedServerAndTheNextServerIsTakenUp) {
    if (!HaveJackd())
        GTEST_SKIP() << "jackd is not installed";
    JackServerProcess jackd("ts-restart-" + std::to_string(getpid()));
    ASSERT_TRUE(jackd.Start());
    ServerNameScope scope(jackd.Name());

    auto server = std::make_shared<JackServer>();
    platform::midi::OwnMidiOutput own(server);
    JackBackend backend(server);
    auto peer = std::make_unique<JackPeer>("ts-restart");
    ASSERT_THAT(Listed(backend), ::testing::Contains("JACK: ts-restart-rec:in"));
    EXPECT_EQ(own.Systems(), 1u);
    EXPECT_THAT(SourcesSeenByAnotherProgram(), ::testing::Contains("Tunestead:Tunestead"));
    auto output = OpenListed(backend, "JACK: ts-restart-rec:in");
    ASSERT_NE(output, nullptr);
    std::shared_ptr<pm::IMidiSink> sink;
    ASSERT_EQ(output->QueryMidiSink(&sink), pm::S_OK);
    // An input open on the server that dies, closed only once the next server runs.
    auto input = OpenListed(backend, "JACK: ts-restart:out");
    ASSERT_NE(input, nullptr);

    jackd.Stop();
    ASSERT_TRUE(Eventually([&] { return !server->Running(); }))
        << "the server's shutdown was not announced";

    // Far more than any queue holds, through every JACK output: each call returns.
    const pm::BYTE note[] = {0x90, 60, 100};
    pm::EventBuffer buffer(64);
    buffer.PackStructured(0, 0, 0x00643C90);
    for (int i = 0; i < 20000; ++i) {
        own.Send(0, note, 3);
        sink->Send(0, note, 3);
        ASSERT_EQ(output->PlayBuffer(buffer), pm::S_OK);
    }
    EXPECT_THAT(Listed(backend), ::testing::IsEmpty());
    EXPECT_EQ(own.Systems(), 0u);
    output.reset();
    peer.reset();

    // The same server name comes back: the next listing takes it up.
    ASSERT_TRUE(jackd.Start());
    peer = std::make_unique<JackPeer>("ts-restart");
    EXPECT_THAT(Listed(backend), ::testing::Contains("JACK: ts-restart-rec:in"));
    EXPECT_TRUE(server->Running());
    EXPECT_EQ(server->Generation(), 2u);
    // Its client died with the first server: closing it must not reach into that server.
    EXPECT_EQ(input->Activate(pm::FALSE), pm::S_OK);
    input.reset();
    EXPECT_EQ(own.Systems(), 1u);
    EXPECT_THAT(SourcesSeenByAnotherProgram(), ::testing::Contains("Tunestead:Tunestead"));
    output = OpenListed(backend, "JACK: ts-restart-rec:in");
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(output->PlayBuffer(buffer), pm::S_OK);
    EXPECT_THAT(peer->WaitFor(1),
                ::testing::ElementsAre(std::vector<unsigned char>{0x90, 60, 100}));
    output.reset();
    peer.reset();
}

TEST(JackOutputQueue, AFullQueueDropsAndCountsAndEverythingAcceptedArrives) {
    if (!tests::midi::JackRunning())
        GTEST_SKIP() << "no JACK server (./test starts one)";
    JackPeer peer("ts-flood");
    const auto out = JackMidiOutput::Open("ts-flood-out", "out");
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->Connect(peer.InName()));
    // Sent in one burst, far faster than JACK cycles drain the queue.
    constexpr std::size_t kSent = 60000;
    for (std::size_t i = 0; i < kSent; ++i) {
        // The message's number in the channel and both data bytes: 18 bits, more than kSent.
        const pm::BYTE note[] = {pm::BYTE(0x90 | ((i >> 14) & 0x0F)), pm::BYTE(i & 0x7F),
                                 pm::BYTE((i >> 7) & 0x7F)};
        out->Send(0, note, 3);
    }
    const std::size_t dropped = out->Dropped();
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(dropped, kSent);
    const auto received = peer.WaitFor(kSent - dropped);
    EXPECT_EQ(received.size(), kSent - dropped);
    // Whole messages, in the order sent.
    std::size_t previous = 0;
    for (const auto& message : received) {
        ASSERT_EQ(message.size(), 3u);
        const std::size_t index =
            message[1] | (std::size_t(message[2]) << 7) | (std::size_t(message[0] & 0x0F) << 14);
        EXPECT_TRUE(index >= previous) << index << " after " << previous;
        previous = index;
    }
    // A message too long for the queue is dropped, not half sent.
    std::vector<pm::BYTE> sysex(JackMidiOutput::kMaxMessage + 1, 0x01);
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;
    out->Send(0, sysex.data(), pm::DWORD(sysex.size()));
    EXPECT_EQ(out->Dropped(), dropped + 1);
}

// stderr captured into a file while a block runs.
class StderrCapture {
public:
    StderrCapture() : path_("/tmp/ts-stderr-" + std::to_string(getpid())) {
        std::fflush(stderr);
        saved_ = dup(2);
        std::FILE* file = std::fopen(path_.c_str(), "w");
        dup2(fileno(file), 2);
        std::fclose(file);
    }
    std::string Take() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        std::remove(path_.c_str());
        return text.str();
    }

private:
    std::string path_;
    int saved_ = -1;
};

TEST(JackAbsent, NothingReachesStderrWithoutAServerOrASequencer) {
    // Debug lines are asked for separately; here only what the libraries would print.
    QLoggingCategory::setFilterRules("tunestead.debug=false");
    ServerNameScope scope("ts-nobody-" + std::to_string(getpid()));
    StderrCapture capture;
    {
        auto server = std::make_shared<JackServer>();
        platform::midi::OwnMidiOutput own(server);
        JackBackend jack(server);
        platform::midi::RtMidiBackend alsa(platform::midi::MidiApi::AlsaSequencer);
        for (int i = 0; i < 3; ++i) {
            Listed(jack);
            Listed(alsa);
        }
        const pm::BYTE note[] = {0x90, 60, 100};
        own.Send(0, note, 3);
        EXPECT_FALSE(server->Running());
    }
    const std::string printed = capture.Take();
    QLoggingCategory::setFilterRules("");
    EXPECT_EQ(printed, "");
}

TEST(JackAbsent, AMissingServerIsAskedForOnceNotAtEveryListing) {
    // The port poll lists every second; only a server socket appearing (or a long interval)
    // makes the next connection attempt. Each attempt leaves libjack's lines in the debug output.
    QLoggingCategory::setFilterRules("tunestead.debug=true");
    ServerNameScope scope("ts-nobody-" + std::to_string(getpid()));
    StderrCapture capture;
    {
        JackServer server;
        for (int i = 0; i < 5; ++i)
            server.Refresh();
    }
    const std::string printed = capture.Take();
    QLoggingCategory::setFilterRules("");
    std::size_t attempts = 0;
    for (std::size_t at = 0; (at = printed.find("server is not running", at)) != std::string::npos;
         ++at)
        ++attempts;
    EXPECT_EQ(attempts, 1u) << printed;
}

}  // namespace
