#pragma once

#include <string_view>

namespace musicport {

// The list text of a General MIDI program (0-based): its 1-based number, a blank and its name.
// Programs outside 0..127 give an empty text.
std::string_view GetGMProgramName(int program);

}  // namespace musicport
