#pragma once

// A PulseAudio server of the test's own, with a null sink as default, that the test may kill
// and start again at the same runtime path (the way a user's server restarts). While it
// exists, PULSE_SERVER names it; the previous value comes back at destruction.

#include <optional>
#include <string>

namespace tests::fluidsynth {

class PulseServer {
public:
    // Creates a fresh runtime directory; call Start().
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False when no `pulseaudio` program is installed.
    static bool Available();

    // Starts the server and waits until it answers; false when it does not.
    bool Start();
    // Kills the server at once (SIGKILL, as a crash) and waits for it to be gone.
    void Kill();

    const std::string& RuntimePath() const { return runtime_; }

private:
    int Pid() const;

    std::string runtime_;
    std::optional<std::string> savedServer_;
};

}  // namespace tests::fluidsynth
