#pragma once

#include <optional>
#include <string>

namespace platform {

// Why no graphical session can be reached, in words for the user, or nothing when one can:
// a Wayland socket that exists, or an X11 display that accepts a connection. When
// QT_QPA_PLATFORM names a platform the user has chosen for themselves, it is not second-guessed.
// Call before the application object is built: Qt aborts when it finds no display.
std::optional<std::string> MissingDisplayReason();

// The full message for standard error: the reason and how to try the player anyway.
std::string MissingDisplayAdvice(const std::string& reason, const std::string& program);

}  // namespace platform
