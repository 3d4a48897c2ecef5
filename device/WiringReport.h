#pragma once

#include <array>
#include <vector>

#include "device/KeyScanner.h"
#include "device/WiringFinding.h"

namespace device {

// What a wiring check saw: for the bed, for each key 0-48, and the faults it names.
struct WiringReport {
    struct Key {
        int key = 0;
        int row = 0;
        int column = 0;
        // The matrix position the scan reported the key at, when swapped lines moved it; -1
        // when it came where it belongs.
        int readAs = -1;
        bool seen = false;  // pressed at least once, as the debounced scan reports presses
        int presses = 0;
        int bounces = 0;          // closed readings the debounce hid (closed, then open, no press)
        bool stuck = false;       // closed at the start, or still closed at the end
        bool outOfOrder = false;  // read before a lower key or after a higher one
    };

    int scans = 0;  // scan ticks watched
    int keysSeen = 0;
    bool chordHeld = false;  // a chord step was held: the diodes were checked
    std::array<Key, KeyScanner::kSoundingKeys> keys{};
    std::vector<WiringFinding> findings;

    bool Sound() const { return findings.empty(); }
};

}  // namespace device
