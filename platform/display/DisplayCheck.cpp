#include "platform/display/DisplayCheck.h"

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool WaylandSocketExists(const std::string& display) {
    std::string path = display;
    if (path.front() != '/') {
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return false;
        path = runtime + "/" + display;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool X11DisplayAnswers(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return ok;
}

}  // namespace

std::optional<std::string> MissingDisplayReason() {
    if (!Env("QT_QPA_PLATFORM").empty())
        return std::nullopt;
    const std::string wayland = Env("WAYLAND_DISPLAY");
    if (!wayland.empty() && WaylandSocketExists(wayland))
        return std::nullopt;
    const std::string x11 = Env("DISPLAY");
    if (!x11.empty() && X11DisplayAnswers(x11))
        return std::nullopt;
    if (x11.empty() && wayland.empty())
        return "no X11 or Wayland display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    std::string reason = "no X11 or Wayland display could be opened (";
    if (!wayland.empty())
        reason += "no Wayland socket \"" + wayland + "\"" + (x11.empty() ? "" : ", ");
    if (!x11.empty())
        reason += "the X11 display \"" + x11 + "\" does not answer";
    return reason + ")";
}

std::string MissingDisplayAdvice(const std::string& reason, const std::string& program) {
    return program + ": " + reason +
           ".\n"
           "The player opens a window, so it needs a desktop session (X11 or Wayland). To try it\n"
           "without one, run it on a virtual display:\n"
           "    xvfb-run -a " +
           program +
           "\n"
           "or log in to a desktop and start it there (over SSH: ssh -X, with an X server on your "
           "side).\n";
}

}  // namespace platform
