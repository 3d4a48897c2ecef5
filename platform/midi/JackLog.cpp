#include "platform/midi/JackLog.h"

#include <jack/jack.h>

#include <mutex>
#include <string>

#include "platform/log/DebugOutput.h"

namespace platform::midi {

void QuietJackLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(
            [](const char* text) { platform::OutputDebugString(std::string("JACK: ") + text); });
        jack_set_info_function(
            [](const char* text) { platform::OutputDebugString(std::string("JACK: ") + text); });
    });
}

}  // namespace platform::midi
