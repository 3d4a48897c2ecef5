#pragma once

#include <string_view>

namespace platform {

// Writes one diagnostic line at the debug level of the "tunestead" logging category (stderr or
// the journal). It is off unless the logging rules enable "tunestead.debug". The program keeps no
// log file. Safe on any thread.
void OutputDebugString(std::string_view text);

}  // namespace platform
