#pragma once

#include <string>

#include "device/WiringFinding.h"
#include "device/WiringReport.h"

namespace device {

// A wiring report in words for the builder, and as JSON for scripts. Lines are named as the
// chip has them: line number, signal and SOP-28 pin.
class WiringReportWriter {
public:
    // One sentence: the symptom, then the likely cause in the builder's terms.
    static std::string Describe(const WiringFinding& finding);
    // The table of keys, then the findings, or that the bed is sound.
    static std::string Text(const WiringReport& report);
    // {"sound", "scans", "keys_seen", "chord_held", "keys": [...], "findings": [...]}; each
    // key with key, row, column, lines, note, seen, presses, bounces, stuck, out_of_order and
    // read_as; each finding with kind, lines, rows, columns, keys and its text.
    static std::string Json(const WiringReport& report);
};

}  // namespace device
