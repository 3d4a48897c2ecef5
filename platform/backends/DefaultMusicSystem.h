#pragma once

#include <memory>

#include "platform/music/IMusicSystem.h"

namespace platform {

// The music system of this machine: its music objects list the ports of the backends in
// the order of one table (the built-in synthesizer first).
std::unique_ptr<music::IMusicSystem> CreateDefaultMusicSystem();

}  // namespace platform
