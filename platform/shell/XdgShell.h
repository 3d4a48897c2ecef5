#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell/IShell.h"

namespace platform::shell {

// Opens addresses with `xdg-open`. When that fails, falls back on the desktop entry of the
// default `text/html` handler (`xdg-mime query default text/html`): its Exec line cut before
// its field code, the address added as one more argument (never parsed by a shell).
class XdgShell final : public IShell {
public:
    struct Environment {
        std::string path;                   // where programs are looked up (PATH)
        std::vector<std::string> dataDirs;  // XDG_DATA_HOME, then XDG_DATA_DIRS
    };

    // xdg-open runs the browser itself on some desktops and then lasts as long as it:
    // still running after this long counts as opened.
    static constexpr std::chrono::milliseconds kOpenerGrace{3000};

    XdgShell();  // the process's environment
    explicit XdgShell(Environment environment);

    std::shared_ptr<OpenRequest> Open(std::string address, Completion done) override;

    // The whole open, blocking; the worker thread's body.
    int OpenBlocking(const std::string& address) const;

    // The program and arguments that the Exec line `exec` runs for `address`: cut before
    // the first %u, %U, %f or %F, then the address as the last argument.
    static std::vector<std::string> FallbackCommand(std::string_view exec,
                                                    std::string_view address);
    // The value of Exec in the [Desktop Entry] group of a desktop file's text.
    static std::optional<std::string> ExecLine(std::string_view desktopEntry);

private:
    std::optional<std::string> FindProgram(std::string_view name) const;
    std::optional<std::string> DefaultHtmlHandlerExec() const;

    Environment environment_;
};

}  // namespace platform::shell
