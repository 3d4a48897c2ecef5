#pragma once

#include <string>

namespace web {

// The message shown when a link cannot be opened: "Unable to open hyperlink:\n\n" and the
// text of the shell's result code.
std::string OpenErrorText(int code);

}  // namespace web
