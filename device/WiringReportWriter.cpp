#include "device/WiringReportWriter.h"

#include <cstdio>
#include <string_view>

#include "device/MatrixLines.h"

namespace device {

namespace {

using Kind = WiringFinding::Kind;

constexpr int kColumns = KeyScanner::kColumns;

std::string Place(int position) {
    return "(row " + std::to_string(position / kColumns) + ", column " +
           std::to_string(position % kColumns) + ")";
}

std::string KeyName(int key) {
    return "key " + std::to_string(key) + " " + Place(key);
}

// "0", "0 and 1", "0, 1 and 9".
std::string Enumerate(const std::vector<int>& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            text += i + 1 == values.size() ? " and " : ", ";
        }
        text += std::to_string(values[i]);
    }
    return text;
}

std::string LinesNamed(const std::vector<int>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += " and ";
        }
        text += LineName(lines[i]);
    }
    return text;
}

// "1 press", "2 presses".
std::string Counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned{c});
                    out += escaped;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string JsonInts(const std::vector<int>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += (i > 0 ? ", " : "") + std::to_string(values[i]);
    }
    return out + "]";
}

const char* JsonBool(bool value) {
    return value ? "true" : "false";
}

std::string Signal(int line) {
    const ChipLine& chip = kChipLines[static_cast<std::size_t>(line)];
    return chip.signal.empty() ? std::to_string(line) : std::string(chip.signal);
}

}  // namespace

std::string WiringReportWriter::Describe(const WiringFinding& f) {
    const int key = f.keys.empty() ? 0 : f.keys.front();
    switch (f.kind) {
        case Kind::NoKeysSeen:
            return "No key was seen closing: either no key was pressed, or no line reaches the "
                   "matrix; check the wiring between the chip and the matrix as a whole.";
        case Kind::OpenRowLine:
            return "No key of row " + Enumerate(f.rows) + " closed: " + LinesNamed(f.lines) +
                   " is open, between its chip pin and the row's switches.";
        case Kind::OpenColumnLine:
            return "No key of column " + Enumerate(f.columns) + " closed: " + LinesNamed(f.lines) +
                   " is open, between its chip pin and the column's "
                   "switches.";
        case Kind::SwappedRowLines:
            return "The keys of rows " + Enumerate(f.rows) +
                   " came out exchanged: " + LinesNamed(f.lines) + " are swapped.";
        case Kind::SwappedColumnLines:
            return "The keys of columns " + Enumerate(f.columns) +
                   " came out exchanged in every row: " + LinesNamed(f.lines) + " are swapped.";
        case Kind::DeadKey:
            return Capitalised(KeyName(key)) +
                   " never closed, though its row and its column work: its switch, or the "
                   "switch's own wiring (unless the key was skipped).";
        case Kind::ChatteringSwitch:
            return Capitalised(KeyName(key)) + " chatters (" +
                   Counted(f.bounces, "closing", "closings") + " the debounce hid, " +
                   Counted(f.quickPresses, "press", "presses") +
                   " right after a release): its switch.";
        case Kind::StuckKey: {
            std::string when = f.closedAtStart && f.closedAtEnd ? "closed from start to end"
                               : f.closedAtStart                ? "closed at the start"
                                                                : "never released";
            return Capitalised(KeyName(key)) + " is stuck closed (" + when +
                   "): its switch, or a short between " + LinesNamed(f.lines) + ".";
        }
        case Kind::ClosedWithoutKey:
            return "Position " + std::to_string(key) + " " + Place(key) +
                   ", where there is no key, closed: a short between " + LinesNamed(f.lines) +
                   ", or a switch wired to those lines by mistake.";
        case Kind::GhostKey: {
            // The current that closes the ghost runs backwards through the switch across the
            // rectangle from it: that one lacks its diode at least.
            std::string across;
            for (const int held : f.heldKeys) {
                if (held / kColumns != key / kColumns && held % kColumns != key % kColumns) {
                    across = " (at least at the switch of key " + std::to_string(held) +
                             ", the corner across from it)";
                }
            }
            return Capitalised(KeyName(key)) + " closed while keys " + Enumerate(f.heldKeys) +
                   " were held, without being pressed: a ghost key; diodes are missing in the "
                   "matrix" +
                   across + ".";
        }
        case Kind::OutOfOrder:
            return std::string(f.keys.size() == 1 ? "Key " : "Keys ") + Enumerate(f.keys) +
                   " came out of the ascending order and no swapped line explains it: pressed "
                   "out of turn, or switches wired to each other's places.";
    }
    return std::string(KindName(f.kind));
}

std::string WiringReportWriter::Text(const WiringReport& report) {
    std::string out = "Key-bed wiring test: " + std::to_string(report.scans) + " scans, " +
                      std::to_string(report.keysSeen) + " of " +
                      std::to_string(report.keys.size()) + " keys seen.\n";
    if (!report.chordHeld) {
        out += "No chord step was held, so the diodes were not checked.\n";
    }
    out += "\nkey  row  col  lines          note  seen  presses  bounces  stuck  order\n";
    for (const auto& k : report.keys) {
        const std::string lines = Signal(RowLine(k.row)) + "/" + Signal(ColumnLine(k.column));
        std::string order = k.outOfOrder ? "out" : "ok";
        if (k.readAs >= 0) {
            order += " (read as " + std::to_string(k.readAs) + ")";
        }
        char line[160];
        std::snprintf(line, sizeof line, "%3d  %3d  %3d  %-13s  %4d  %-4s  %7d  %7d  %-5s  %s\n",
                      k.key, k.row, k.column, lines.c_str(), kFirstKeyNote + k.key,
                      k.seen ? "yes" : "no", k.presses, k.bounces, k.stuck ? "yes" : "no",
                      order.c_str());
        out += line;
    }
    out += "\n";
    if (report.Sound()) {
        return out + "No fault found: the key bed is sound.\n";
    }
    out += "Findings:\n";
    for (const auto& f : report.findings) {
        out += "- " + Describe(f) + "\n";
    }
    const std::size_t n = report.findings.size();
    return out + std::to_string(n) + (n == 1 ? " fault found.\n" : " faults found.\n");
}

std::string WiringReportWriter::Json(const WiringReport& report) {
    std::string out = "{\n";
    out += "  \"sound\": " + std::string(JsonBool(report.Sound())) + ",\n";
    out += "  \"scans\": " + std::to_string(report.scans) + ",\n";
    out += "  \"keys_seen\": " + std::to_string(report.keysSeen) + ",\n";
    out += "  \"chord_held\": " + std::string(JsonBool(report.chordHeld)) + ",\n";
    out += "  \"keys\": [";
    for (std::size_t i = 0; i < report.keys.size(); ++i) {
        const auto& k = report.keys[i];
        out += i > 0 ? ",\n    " : "\n    ";
        out += "{\"key\": " + std::to_string(k.key) + ", \"row\": " + std::to_string(k.row) +
               ", \"column\": " + std::to_string(k.column) +
               ", \"row_line\": " + std::to_string(RowLine(k.row)) +
               ", \"column_line\": " + std::to_string(ColumnLine(k.column)) +
               ", \"note\": " + std::to_string(kFirstKeyNote + k.key) +
               ", \"seen\": " + JsonBool(k.seen) + ", \"presses\": " + std::to_string(k.presses) +
               ", \"bounces\": " + std::to_string(k.bounces) + ", \"stuck\": " + JsonBool(k.stuck) +
               ", \"out_of_order\": " + JsonBool(k.outOfOrder) +
               ", \"read_as\": " + (k.readAs >= 0 ? std::to_string(k.readAs) : "null") + "}";
    }
    out += "\n  ],\n  \"findings\": [";
    for (std::size_t i = 0; i < report.findings.size(); ++i) {
        const auto& f = report.findings[i];
        out += i > 0 ? ",\n    " : "\n    ";
        std::string pins = "[";
        for (std::size_t j = 0; j < f.lines.size(); ++j) {
            pins += (j > 0 ? ", " : "") + JsonString(LineName(f.lines[j]));
        }
        pins += "]";
        out += "{\"kind\": " + JsonString(KindName(f.kind)) + ", \"lines\": " + JsonInts(f.lines) +
               ", \"line_names\": " + pins + ", \"rows\": " + JsonInts(f.rows) +
               ", \"columns\": " + JsonInts(f.columns) + ", \"keys\": " + JsonInts(f.keys);
        if (f.kind == Kind::GhostKey) {
            out += ", \"held_keys\": " + JsonInts(f.heldKeys);
        }
        if (f.kind == Kind::ChatteringSwitch) {
            out += ", \"bounces\": " + std::to_string(f.bounces) +
                   ", \"quick_presses\": " + std::to_string(f.quickPresses);
        }
        if (f.kind == Kind::StuckKey) {
            out += std::string(", \"closed_at_start\": ") + JsonBool(f.closedAtStart) +
                   ", \"closed_at_end\": " + JsonBool(f.closedAtEnd);
        }
        out += ", \"text\": " + JsonString(Describe(f)) + "}";
    }
    out += report.findings.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

}  // namespace device
