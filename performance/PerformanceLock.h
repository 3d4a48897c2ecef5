#pragma once

#include <mutex>

namespace performance {

// The one process-wide lock that guards what the GUI, input, player and key-bed threads share:
// the recorder, the message list's pending cells, the piano's octave pictures and output-port
// sends. Recursive because a GUI handler that holds it may call code that takes it again.
// Never wait for the GUI thread while holding it.
inline std::recursive_mutex& PerformanceLock() {
    static std::recursive_mutex lock;
    return lock;
}

using PerformanceGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace performance
