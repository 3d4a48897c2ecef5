#pragma once

#include <functional>

namespace platform::process {

// Runs a function when the process ends through exit() while the hook is armed. Qt's X11
// connection ends the process that way when the display goes away; the program's own end
// disarms the hook first. One instance at a time; GUI thread only.
class ExitHook {
public:
    explicit ExitHook(std::function<void()> atExit);
    ~ExitHook();
    ExitHook(const ExitHook&) = delete;
    ExitHook& operator=(const ExitHook&) = delete;

    // The function will not run.
    void Disarm();
};

}  // namespace platform::process
