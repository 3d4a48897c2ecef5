#pragma once

#include <cstdint>

namespace device {

using BYTE = std::uint8_t;
using BOOL = std::int32_t;

// One press or release found by a scan tick. key = 9 x row + column.
struct KeyEvent {
    BYTE key = 0;
    BYTE row = 0;
    BYTE column = 0;
    bool pressed = false;

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

}  // namespace device
