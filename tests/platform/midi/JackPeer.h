#pragma once

// An external JACK MIDI program for tests, beside ours: one MIDI output it plays from
// ("<client>:out") and one MIDI input that records what reaches it ("<client>-rec:in"; every
// RtMidi object is a JACK client of its own).

#include <RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tests::midi {

// True when a JACK server runs for this test run (./test starts one).
inline bool JackRunning() {
    if (std::getenv("JACK_DEFAULT_SERVER") == nullptr)
        return false;
    try {
        RtMidiOut probe(RtMidi::UNIX_JACK, "ts-probe");
        probe.setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        probe.openVirtualPort("probe");
        RtMidiIn lister(RtMidi::UNIX_JACK, "ts-probe");
        lister.setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        for (unsigned i = 0; i < lister.getPortCount(); ++i)
            if (lister.getPortName(i).ends_with(":probe"))
                return true;
        return false;
    } catch (const RtMidiError&) {
        return false;
    }
}

class JackPeer {
public:
    explicit JackPeer(const std::string& client = "ts-peer")
        : out_(RtMidi::UNIX_JACK, client), in_(RtMidi::UNIX_JACK, client + "-rec") {
        in_.ignoreTypes(false, true, true);
        in_.setCallback(&JackPeer::OnMessage, this);
        out_.openVirtualPort("out");
        in_.openVirtualPort("in");
        outName_ = client + ":out";
        inName_ = client + "-rec:in";
    }
    ~JackPeer() { in_.cancelCallback(); }

    // Full JACK names of the peer's ports.
    const std::string& OutName() const { return outName_; }
    const std::string& InName() const { return inName_; }

    void Send(std::vector<unsigned char> message) { out_.sendMessage(&message); }

    // What has arrived once `count` messages have, or after a generous deadline: a lost
    // message then shows as a short list instead of a hang.
    std::vector<std::vector<unsigned char>> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(20),
                          [&] { return received_.size() >= count; });
        return received_;
    }
    std::vector<std::vector<unsigned char>> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<JackPeer*>(user);
        {
            std::lock_guard lock(self->mutex_);
            self->received_.push_back(*message);
        }
        self->arrived_.notify_all();
    }

    RtMidiOut out_;
    RtMidiIn in_;
    std::string outName_;
    std::string inName_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::vector<unsigned char>> received_;
};

}  // namespace tests::midi
