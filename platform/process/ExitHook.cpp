#include "platform/process/ExitHook.h"

#include <cstdlib>
#include <utility>

namespace platform::process {

namespace {

std::function<void()>& Armed() {
    static std::function<void()> armed;
    return armed;
}

extern "C" void RunArmedHook() {
    // Taken out first: the function runs at most once, even if it calls exit() itself.
    const std::function<void()> run = std::exchange(Armed(), nullptr);
    if (run)
        run();
}

}  // namespace

ExitHook::ExitHook(std::function<void()> atExit) {
    // Registered once per process; each instance only sets what it runs. The function's
    // holder is made first, so that it is destroyed after the hook has run.
    static const bool registered = (Armed(), std::atexit(&RunArmedHook) == 0);
    if (registered)
        Armed() = std::move(atExit);
}

ExitHook::~ExitHook() {
    Disarm();
}

void ExitHook::Disarm() {
    Armed() = nullptr;
}

}  // namespace platform::process
