#include "tests/platform/fluidsynth/PulseServer.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace tests::fluidsynth {

PulseServer::PulseServer() {
    char dir[] = "/tmp/ts-pulse-own.XXXXXX";
    runtime_ = std::string(mkdtemp(dir)) + "/pulse";
    std::filesystem::create_directories(runtime_);
    if (const char* old = std::getenv("PULSE_SERVER"))
        savedServer_ = old;
    setenv("PULSE_SERVER", ("unix:" + runtime_ + "/native").c_str(), 1);
}

PulseServer::~PulseServer() {
    Kill();
    if (savedServer_)
        setenv("PULSE_SERVER", savedServer_->c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(runtime_).parent_path(), ignored);
}

bool PulseServer::Available() {
    return std::system("command -v pulseaudio >/dev/null 2>&1") == 0;
}

bool PulseServer::Start() {
    const pid_t child = fork();
    if (child == 0) {
        setenv("PULSE_RUNTIME_PATH", runtime_.c_str(), 1);
        const std::string log = "--log-target=file:" + runtime_ + "/log";
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1",
               "--system=false", log.c_str(), "-L",
               "module-null-sink sink_name=nullsink rate=48000 channels=2", "-L",
               "module-native-protocol-unix", "-L", "module-always-sink",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    // The daemon forks away; the starter returns once the server is up (or failed).
    int status = 0;
    waitpid(child, &status, 0);
    for (int i = 0; i < 100; ++i) {
        if (PulseMonitor::ServerReachable())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int PulseServer::Pid() const {
    std::ifstream file(runtime_ + "/pid");
    int pid = 0;
    file >> pid;
    return pid;
}

void PulseServer::Kill() {
    const int pid = Pid();
    if (pid <= 0 || kill(pid, SIGKILL) != 0)
        return;
    for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::remove(runtime_ + "/pid");
}

}  // namespace tests::fluidsynth
