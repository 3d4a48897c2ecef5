#pragma once

#include <string>

namespace platform::music {

// The words behind the last failure result a platform realisation returned on this thread
// ("cannot open the SoundFont /x.sf2: No such file or directory"), for a caller that shows
// the failure to the user: result codes say what kind of failure, not which file or server.
// A realisation sets it where it fails; the caller takes it after the failing call.
void SetErrorInfo(std::string text);
// The text set last on this thread, cleared by the call; empty when none was set.
std::string TakeErrorInfo();

}  // namespace platform::music
