#pragma once

#include <array>
#include <bit>
#include <string>
#include <string_view>

#include "device/KeyScanner.h"

namespace device {

// The chip lines the key matrix is wired to, named as a builder finds them on the CH341:
// its line number, the signal name and the pin of the SOP-28 package (0 where the package
// table gives none: the output-only lines 16-19).
struct ChipLine {
    int line = -1;
    std::string_view signal;
    int pin = 0;
};

inline constexpr std::array<ChipLine, 18> kChipLines{{
    {0, "D0", 15},
    {1, "D1", 16},
    {2, "D2", 17},
    {3, "D3", 18},
    {4, "D4", 19},
    {5, "D5", 20},
    {6, "D6", 21},
    {7, "D7", 22},
    {8, "ERR#", 5},
    {9, "PEMP", 6},
    {10, "INT#", 7},
    {11, "SLCT", 8},
    {12, "", 0},  // no line
    {13, "WAIT#", 27},
    {14, "DATAS#", 4},
    {15, "ADDRS#", 3},
    {16, "RESET#", 0},
    {17, "WRITE#", 0},
}};

// The note a key plays with the piano at its start-up range: key 0 plays 36.
inline constexpr int kFirstKeyNote = 36;

constexpr int RowLine(int row) {
    return std::countr_zero(KeyScanner::kRowMasks[static_cast<std::size_t>(row)]);
}

constexpr int ColumnLine(int column) {
    return KeyScanner::kColumnBits[static_cast<std::size_t>(column)];
}

// "line 4 (D4, pin 19)"; "line 16 (RESET#)" where the package has no pin for it.
inline std::string LineName(int line) {
    std::string name = "line " + std::to_string(line);
    if (line < 0 || line >= static_cast<int>(kChipLines.size()) ||
        kChipLines[static_cast<std::size_t>(line)].signal.empty()) {
        return name;
    }
    const ChipLine& chip = kChipLines[static_cast<std::size_t>(line)];
    name += " (" + std::string(chip.signal);
    if (chip.pin != 0) {
        name += ", pin " + std::to_string(chip.pin);
    }
    return name + ")";
}

}  // namespace device
