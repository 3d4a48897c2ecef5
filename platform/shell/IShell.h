#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform::shell {

// One pending open. Cancel() returns only once no completion can run any more, so an
// owner calls it before it goes away.
class OpenRequest {
public:
    virtual ~OpenRequest() = default;
    virtual void Cancel() = 0;
};

// Opens addresses (web pages, "mailto:" addresses, files) with the desktop's default
// handler. Never blocks the caller: the work runs on a thread of its own.
class IShell {
public:
    // Called once with the result code (ShellCodes.h), on the shell's own thread.
    using Completion = std::function<void(int code)>;

    virtual ~IShell() = default;
    // Any thread. `done` may be empty when the caller does not examine the result.
    virtual std::shared_ptr<OpenRequest> Open(std::string address, Completion done) = 0;
};

}  // namespace platform::shell
