#include "device/KeyScanner.h"

namespace device {

int KeyScanner::Scan(platform::ch341::ICh341Device& device, ULONG index,
                     std::vector<KeyEvent>& events, std::stop_token stop) {
    int rowsRead = 0;
    for (int row = 0; row < kRows && !stop.stop_requested(); ++row) {
        if (ScanRow(device, index, row, events)) {
            ++rowsRead;
        }
    }
    return rowsRead;
}

bool KeyScanner::ScanRow(platform::ch341::ICh341Device& device, ULONG index, int row,
                         std::vector<KeyEvent>& events) {
    DWORD word = platform::ch341::CH341_INPUT_UNKNOWN;
    if (!device.SetOutputThenGetInput(index, kEnable, kDirection,
                                      ~kRowMasks[static_cast<std::size_t>(row)], &word)) {
        return false;
    }
    for (int column = 0; column < kColumns; ++column) {
        const int key = row * kColumns + column;
        DWORD& counter = counters_[static_cast<std::size_t>(key)];
        const bool closed = (word >> kColumnBits[static_cast<std::size_t>(column)] & 1U) == 0;
        if (closed) {
            ++counter;
            if (counter == kPressCount && key < kSoundingKeys) {
                events.push_back({static_cast<BYTE>(key), static_cast<BYTE>(row),
                                  static_cast<BYTE>(column), true});
            }
        } else if (counter >= kPressCount) {
            counter = 0;
            if (key < kSoundingKeys) {
                events.push_back({static_cast<BYTE>(key), static_cast<BYTE>(row),
                                  static_cast<BYTE>(column), false});
            }
        }
    }
    return true;
}

void KeyScanner::ReleaseHeldKeys(std::vector<KeyEvent>& events) {
    for (int key = 0; key < kKeys; ++key) {
        DWORD& counter = counters_[static_cast<std::size_t>(key)];
        if (counter < kPressCount) {
            continue;
        }
        counter = 0;
        if (key < kSoundingKeys) {
            events.push_back({static_cast<BYTE>(key), static_cast<BYTE>(key / kColumns),
                              static_cast<BYTE>(key % kColumns), false});
        }
    }
}

}  // namespace device
