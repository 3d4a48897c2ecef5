#pragma once

// A JACK server (dummy driver) of a test's own, which the test may stop and start again while
// clients use it. It is terminated, never killed outright: a killed server leaves its entry in
// JACK's shared registry, and a few of those keep any new server from starting.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tests::midi {

class JackServerProcess {
public:
    explicit JackServerProcess(std::string name) : name_(std::move(name)) {}
    ~JackServerProcess() { Stop(); }
    JackServerProcess(const JackServerProcess&) = delete;
    JackServerProcess& operator=(const JackServerProcess&) = delete;

    const std::string& Name() const { return name_; }

    // Starts the server and waits (at most 5 s) until it takes clients.
    bool Start() {
        if (!Run({"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"},
                 &pid_))
            return false;
        pid_t wait = 0;
        if (!Run({"jack_wait", "-s", name_, "-w", "-t", "5"}, &wait))
            return false;
        int status = 0;
        waitpid(wait, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // Terminates the server and waits for it to end.
    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    static bool Run(const std::vector<std::string>& args, pid_t* pid) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0;
    }

    std::string name_;
    pid_t pid_ = 0;
};

}  // namespace tests::midi
