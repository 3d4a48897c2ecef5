#pragma once

#include <string_view>
#include <vector>

namespace device {

// One fault the wiring check names, with what it names: chip lines, matrix rows and columns,
// keys. Keys are 0-48; ClosedWithoutKey names matrix positions 49-71 (9 x row + column).
struct WiringFinding {
    enum class Kind {
        NoKeysSeen,          // nothing closed: nothing pressed, or no line reaches the matrix
        OpenRowLine,         // no key of a row closed: its line is open
        OpenColumnLine,      // no key of a column closed: its line is open
        SwappedRowLines,     // two rows' keys came out exchanged: their lines are swapped
        SwappedColumnLines,  // two columns' keys came out exchanged: their lines are swapped
        DeadKey,             // one key never closed while its row and column work
        ChatteringSwitch,    // a key bounced or pressed itself again at once
        StuckKey,            // closed at the start, or never released
        ClosedWithoutKey,    // a position without a key closed: a short or a miswired switch
        GhostKey,            // closed only while a chord held the rest of its rectangle
        OutOfOrder,          // out of the ascending walk with no swapped line to explain it
    };

    Kind kind = Kind::NoKeysSeen;
    std::vector<int> lines{};  // CH341 line numbers
    std::vector<int> rows{};
    std::vector<int> columns{};
    std::vector<int> keys{};
    std::vector<int> heldKeys{};  // GhostKey: the chord that was held
    int bounces = 0;              // ChatteringSwitch: closings the debounce hid
    int quickPresses = 0;         // ChatteringSwitch: presses right after a release
    bool closedAtStart = false;   // StuckKey
    bool closedAtEnd = false;     // StuckKey

    friend bool operator==(const WiringFinding&, const WiringFinding&) = default;
};

// The name scripts see ("swapped_column_lines").
constexpr std::string_view KindName(WiringFinding::Kind kind) {
    using Kind = WiringFinding::Kind;
    switch (kind) {
        case Kind::NoKeysSeen:
            return "no_keys_seen";
        case Kind::OpenRowLine:
            return "open_row_line";
        case Kind::OpenColumnLine:
            return "open_column_line";
        case Kind::SwappedRowLines:
            return "swapped_row_lines";
        case Kind::SwappedColumnLines:
            return "swapped_column_lines";
        case Kind::DeadKey:
            return "dead_key";
        case Kind::ChatteringSwitch:
            return "chattering_switch";
        case Kind::StuckKey:
            return "stuck_key";
        case Kind::ClosedWithoutKey:
            return "closed_without_key";
        case Kind::GhostKey:
            return "ghost_key";
        case Kind::OutOfOrder:
            return "out_of_order";
    }
    return "unknown";
}

}  // namespace device
