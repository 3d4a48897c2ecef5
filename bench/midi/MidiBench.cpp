// tunestead-bench-midi: figures of the external MIDI path.
//   thru        external JACK MIDI note-on to first sound at the audio server, through the
//               input port's thru into the built-in synthesizer, against the direct send the
//               mouse path makes (needs PULSE_SERVER and a JACK server)
//   throughput  input events per second through the notification thread and a receiver, and
//               through the application's receiver and its GUI-side drain (fake platform)
//   collection  load time and resident memory of the default General MIDI collection
//   send        cost of one send to a JACK output while its server runs and after the server
//               has stopped (a server of its own; needs jackd), and the messages dropped
// Usage: tunestead-bench-midi [thru|throughput|collection|send] [repetitions]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/CInputReceiver.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "platform/midi/JackBackend.h"
#include "platform/midi/JackMidiOutput.h"
#include "platform/midi/JackServer.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"
#include "tests/platform/midi/JackPeer.h"
#include "tests/platform/midi/JackServerProcess.h"
#include "tests/support/music/FakeMusicSystem.h"

namespace {

using namespace platform::music;
using Clock = std::chrono::steady_clock;

constexpr int kFragmentFrames = 64;
constexpr int kSilence = 2;

long FirstSound(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > kSilence)
            return long(i / 2);
    return -1;
}

void Report(const char* name, std::vector<double> v, const char* unit) {
    if (v.empty()) {
        std::printf("%-28s no measurement\n", name);
        return;
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1) + 0.5)]; };
    std::printf("%-28s n=%3zu  median %8.2f %s  p10 %8.2f  p90 %8.2f\n", name, v.size(), at(0.5),
                unit, at(0.1), at(0.9));
}

// Milliseconds from `trigger` to the first sound on the monitor, after silence.
template <typename Trigger, typename Silence>
std::vector<double> Latencies(tests::fluidsynth::PulseMonitor& monitor, int repetitions,
                              Trigger trigger, Silence silence) {
    const double rate = monitor.SampleRate();
    std::vector<double> out;
    for (int rep = 0; rep < repetitions; ++rep) {
        silence();
        int quiet = 0;
        for (int reads = 0; quiet < 100 * int(rate) / 1000 / kFragmentFrames && reads < 5000;
             ++reads)
            quiet = FirstSound(monitor.Read(kFragmentFrames)) < 0 ? quiet + 1 : 0;
        const auto sent = Clock::now();
        trigger();
        for (int reads = 0; reads < 2000; ++reads) {
            const auto samples = monitor.Read(kFragmentFrames);
            const auto arrived = Clock::now();
            if (samples.empty())
                return out;
            const long first = FirstSound(samples);
            if (first >= 0) {
                out.push_back(std::max(
                    0.0, std::chrono::duration<double, std::milli>(arrived - sent).count() -
                             1000.0 * double(kFragmentFrames - first) / rate));
                break;
            }
        }
    }
    return out;
}

int Thru(int repetitions) {
    tests::fluidsynth::PulseMonitor monitor(48000, kFragmentFrames);
    if (!monitor.Connected() || !tests::midi::JackRunning()) {
        std::fprintf(stderr, "needs PULSE_SERVER and a JACK server\n");
        return 1;
    }
    platform::fluidsynth::FluidSynthBackend::Options options;
    options.audioDrivers = {"pulseaudio"};
    platform::fluidsynth::FluidSynthBackend synthBackend(options);
    DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    params.dwValidParams = DMUS_PORTPARAMS_SAMPLERATE | DMUS_PORTPARAMS_EFFECTS;
    params.dwSampleRate = 44100;
    params.dwEffectFlags = DMUS_EFFECT_NONE;
    std::unique_ptr<IMusicPort> synth;
    if (Failed(synthBackend.CreatePort(platform::fluidsynth::FluidSynthBackend::kPortGuid, &params,
                                       &synth)) ||
        Failed(synth->Activate(TRUE)))
        return 1;

    tests::midi::JackPeer peer("ts-bench");
    platform::midi::JackBackend jack(std::make_shared<platform::midi::JackServer>());
    std::vector<DMUS_PORTCAPS> ports;
    jack.ListPorts(ports);
    std::unique_ptr<IMusicPort> input;
    for (const DMUS_PORTCAPS& caps : ports) {
        const std::u16string name(caps.wszDescription.data());
        if (caps.dwClass == DMUS_PC_INPUTCLASS && name == u"JACK: ts-bench:out") {
            DMUS_PORTPARAMS8 p;
            p.dwSize = sizeof p;
            jack.CreatePort(caps.guidPort, &p, &input);
        }
    }
    std::shared_ptr<IMusicThru> thru;
    if (!input || Failed(input->Activate(TRUE)) || Failed(input->QueryThru(&thru)) ||
        Failed(thru->ThruChannel(1, 0, 0, 0, synth.get()))) {
        std::fprintf(stderr, "cannot open the JACK input with thru\n");
        return 1;
    }
    auto play = [&](DWORD message) {
        EventBuffer buffer(64);
        buffer.PackStructured(0, 0, message);
        synth->PlayBuffer(buffer);
    };
    const auto silence = [&] { play(0x000078B0); };
    const auto external = Latencies(
        monitor, repetitions,
        [&] {
            peer.Send({0x90, 69, 127});
        },
        silence);
    const auto direct = Latencies(
        monitor, repetitions, [&] { play(0x007F4590); }, silence);
    Report("external MIDI via thru", external, "ms");
    Report("direct send (mouse path)", direct, "ms");
    return external.empty() ? 1 : 0;
}

class CountingReceiver final : public musicport::CMidiReceiver {
public:
    void ReceiveMidiMsg(REFERENCE_TIME, DWORD, DWORD) override { ++count; }
    void ReceiveMidiMsg(REFERENCE_TIME, DWORD, DWORD, const BYTE*) override { ++count; }
    std::atomic<std::size_t> count{0};
};

class CountingView final : public app::IInputView {
public:
    void PressKey(BYTE) override { ++keys; }
    void ReleaseKey(BYTE) override { ++keys; }
    void AddMessage(BYTE, BYTE, int) override {}
    void RecordingStep(DWORD, std::chrono::steady_clock::time_point) override {}
    void SendToOutput(DWORD) override {}
    std::size_t keys = 0;
};

int Throughput(int repetitions) {
    constexpr std::size_t kEvents = 200000;
    std::vector<double> layer;
    std::vector<double> application;
    for (int rep = 0; rep < repetitions; ++rep) {
        fake::FakeMusicSystem system;
        auto& in = system.AddPort("In", DMUS_PC_INPUTCLASS);
        musicport::CDirectMusic music(system);
        music.Initialize(nullptr, nullptr);
        musicport::CInputPort port;
        port.Initialize(music);
        musicport::PortInfo info{};
        port.GetPortInfo(1, &info);
        port.ActivatePort(&info, 32);
        CountingReceiver receiver;
        port.SetReceiver(&receiver);
        port.ActivateNotification();
        const auto start = Clock::now();
        // Paced by the queue's bound, as a device that keeps sending would be.
        std::size_t sent = 0;
        while (sent < kEvents) {
            if (in.Waiting() < MidiInputQueue::kMaxEvents / 2) {
                in.Receive({0x90, BYTE(sent & 0x7F), 64});
                ++sent;
            } else {
                std::this_thread::yield();
            }
        }
        while (receiver.count < kEvents)
            std::this_thread::yield();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        port.DeactivateNotification();
        layer.push_back(double(kEvents) / seconds / 1000.0);

        // The application's receiver: enqueue on the input thread, drain on the GUI thread.
        app::CInputReceiver appReceiver;
        CountingView view;
        std::atomic<int> drains{0};
        appReceiver.Attach(&view, [&](std::function<void()>) { ++drains; });
        const auto appStart = Clock::now();
        for (std::size_t i = 0; i < kEvents; ++i) {
            appReceiver.ReceiveMidiMsg(0, 1, 0x00400090u | DWORD((i & 0x7F) << 8));
            if ((i & 1023) == 1023)
                appReceiver.Drain();
        }
        appReceiver.Drain();
        const double appSeconds = std::chrono::duration<double>(Clock::now() - appStart).count();
        application.push_back(double(kEvents) / appSeconds / 1000.0);
    }
    Report("notification thread", layer, "k events/s");
    Report("app receiver + drain", application, "k events/s");
    return 0;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

int Collection(int repetitions) {
    std::vector<double> times;
    long memory = 0;
    for (int rep = 0; rep < repetitions; ++rep) {
        platform::fluidsynth::SoundFontLoader loader;
        DMUS_OBJECTDESC desc;
        desc.dwSize = sizeof desc;
        desc.dwValidData = DMUS_OBJ_OBJECT | DMUS_OBJ_CLASS;
        desc.guidClass = CLSID_DirectMusicCollection;
        desc.guidObject = GUID_DefaultGMCollection;
        std::shared_ptr<ICollection> collection;
        const long before = ResidentKiB();
        const auto start = Clock::now();
        if (Failed(loader.GetCollection(&desc, &collection)))
            return 1;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        memory = std::max(memory, ResidentKiB() - before);
    }
    Report("default collection load", times, "ms");
    std::printf("%-28s %ld KiB resident (largest increase)\n", "default collection memory", memory);
    return 0;
}

int Send(int repetitions) {
    tests::midi::JackServerProcess jackd("ts-bench-send-" + std::to_string(getpid()));
    if (!jackd.Start()) {
        std::fprintf(stderr, "jackd did not start\n");
        return 1;
    }
    setenv("JACK_DEFAULT_SERVER", jackd.Name().c_str(), 1);
    const auto out = platform::midi::JackMidiOutput::Open("ts-bench-send", "out");
    if (!out)
        return 1;
    constexpr int kBatch = 1000;  // 7 KB: fits the queue, so a running server drops nothing
    const BYTE note[] = {0x90, 60, 100};
    const auto measure = [&](const char* name) {
        std::vector<double> perSend;
        for (int rep = 0; rep < repetitions; ++rep) {
            const auto start = Clock::now();
            for (int i = 0; i < kBatch; ++i)
                out->Send(0, note, 3);
            perSend.push_back(
                std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kBatch);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // cycles drain it
        }
        Report(name, perSend, "ns");
    };
    measure("send, server running");
    const std::size_t droppedRunning = out->Dropped();
    jackd.Stop();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!out->ShutDown() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    measure("send, server stopped");
    std::printf("%-28s %zu of %d while running, %zu of %d after the stop\n", "dropped",
                droppedRunning, repetitions * kBatch, out->Dropped() - droppedRunning,
                repetitions * kBatch);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "throughput";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    if (what == "thru")
        return Thru(repetitions);
    if (what == "throughput")
        return Throughput(repetitions);
    if (what == "collection")
        return Collection(repetitions);
    if (what == "send")
        return Send(repetitions);
    std::fprintf(stderr, "usage: tunestead-bench-midi [thru|throughput|collection|send] [n]\n");
    return 2;
}
