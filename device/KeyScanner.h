#pragma once

#include <array>
#include <stop_token>
#include <vector>

#include "device/KeyEvent.h"
#include "platform/ch341/ICh341Device.h"

namespace device {

using platform::ch341::DWORD;
using platform::ch341::ULONG;

// The matrix scan and its debouncing: 72 counters, one per switch, that live as long as the
// scanner and are never reset as a whole (not on open, close, plug or unplug). Used by one
// thread at a time (the key-bed thread while it runs).
class KeyScanner {
public:
    static constexpr int kRows = 8;
    static constexpr int kColumns = 9;
    static constexpr int kKeys = kRows * kColumns;
    // Keys 0-48 make events; the rest are scanned and counted only.
    static constexpr int kSoundingKeys = 49;
    // Line that selects each row (driven low): lines 0-3 and 14-17.
    static constexpr std::array<DWORD, kRows> kRowMasks{0x1,    0x2,    0x4,     0x8,
                                                        0x4000, 0x8000, 0x10000, 0x20000};
    // Line of each column: 4-11, then 13 (line 12 does not exist on the chip).
    static constexpr std::array<int, kColumns> kColumnBits{4, 5, 6, 7, 8, 9, 10, 11, 13};
    static constexpr ULONG kEnable = 0xFF;
    // Lines 0-3 and 14-19 are outputs; 18 and 19 stay high.
    static constexpr ULONG kDirection = 0xFC00F;
    // Readings in a row that make a press.
    static constexpr DWORD kPressCount = 2;

    // One tick: ScanRow for each row in turn. Once `stop` is requested no further row
    // starts and the tick ends where it is. Returns the number of rows read.
    int Scan(platform::ch341::ICh341Device& device, ULONG index, std::vector<KeyEvent>& events,
             std::stop_token stop = {});
    // Selects `row` (drives its line low) and reads the columns in one exchange, appending
    // the row's presses and releases to `events` in ascending key order. A failed exchange
    // changes nothing: the row's switches keep their counters, so it neither presses nor
    // releases. Returns whether the row was read.
    bool ScanRow(platform::ch341::ICh341Device& device, ULONG index, int row,
                 std::vector<KeyEvent>& events);
    // The device went away: every key the scan holds (a press reported, no release yet) is
    // released, its counter back to 0, and keys 0-48 append a release event in ascending key
    // order. Counters of single readings are kept. Only while no scan runs.
    void ReleaseHeldKeys(std::vector<KeyEvent>& events);

    DWORD Counter(int key) const { return counters_.at(static_cast<std::size_t>(key)); }

private:
    std::array<DWORD, kKeys> counters_{};
};

}  // namespace device
