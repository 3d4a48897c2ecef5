#pragma once

namespace platform::midi {

// Sends libjack's own error and information lines (e.g. "server is not running" from a
// failed connection attempt) to the debug output instead of stderr. Idempotent; process-wide.
void QuietJackLibrary();

}  // namespace platform::midi
