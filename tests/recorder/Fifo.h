#pragma once

// A FIFO for tests of code that must never wait on one. A run that is still waiting after a
// generous bound is released by opening the write end, so the fault fails the test instead of
// hanging the suite.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

namespace tests::recorder {

class Fifo {
public:
    explicit Fifo(std::filesystem::path path) : path_(std::move(path)) {
        made_ = ::mkfifo(path_.c_str(), 0600) == 0;
    }
    bool Made() const { return made_; }
    const std::filesystem::path& Path() const { return path_; }

    // Runs `task` on another thread; false when it was still waiting after the bound (it is
    // then released and allowed to finish).
    bool RunsWithoutWaiting(const std::function<void()>& task) const {
        std::future<void> done = std::async(std::launch::async, task);
        if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
            done.get();
            return true;
        }
        const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
        done.get();
        return false;
    }

private:
    std::filesystem::path path_;
    bool made_ = false;
};

}  // namespace tests::recorder
