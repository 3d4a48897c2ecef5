#pragma once

#include <string>
#include <vector>

#include "platform/shell/IShell.h"
#include "platform/shell/ShellCodes.h"

namespace platform::shell::fake {

// Opens nothing: keeps each address and answers at once, on the caller's thread, with a
// scripted code.
class FakeShell final : public IShell {
public:
    explicit FakeShell(int code = kOpened) : code_(code) {}

    void SetCode(int code) { code_ = code; }
    const std::vector<std::string>& Opened() const { return opened_; }

    std::shared_ptr<OpenRequest> Open(std::string address, Completion done) override {
        opened_.push_back(std::move(address));
        if (done)
            done(code_);
        return std::make_shared<Done>();
    }

private:
    struct Done final : OpenRequest {
        void Cancel() override {}
    };

    int code_;
    std::vector<std::string> opened_;
};

}  // namespace platform::shell::fake
