#pragma once

#include <string_view>

namespace platform {

// Writes one diagnostic line to the "tunestead.debug" logging category (stderr or the
// journal). The category is off unless the logging rules enable it. The program keeps no log
// file. Safe on any thread.
void OutputDebugString(std::string_view text);

}  // namespace platform
