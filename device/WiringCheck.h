#pragma once

#include <array>
#include <bitset>
#include <span>
#include <vector>

#include "device/KeyEvent.h"
#include "device/KeyScanner.h"
#include "device/WiringReport.h"

namespace device {

// Finds wiring faults in what one session of the key bed showed: the raw matrix reads, in
// scan order, and the presses and releases the player's scan made of them. The user is asked
// to press every key once from the lowest to the highest (the walk), then to hold the chord
// steps. Faults are named from their symptoms: keys that came out exchanged across every
// row or column are swapped lines, a row or column with no key seen is an open line, and so
// on (WiringFinding). Single-threaded; no timing of its own: time is counted in scans.
class WiringCheck {
public:
    static constexpr int kRows = KeyScanner::kRows;
    static constexpr int kColumns = KeyScanner::kColumns;
    static constexpr int kPositions = KeyScanner::kKeys;
    static constexpr int kKeys = KeyScanner::kSoundingKeys;

    // A chord step: three corners of a rectangle over two rows and two columns. In a matrix
    // without diodes the fourth corner, `ghost`, reads closed while the three are held.
    struct Chord {
        std::array<int, 3> keys;
        int ghost;
    };
    // Within one hand's reach; between them they use rows 0-5 and seven of the columns.
    static constexpr std::array<Chord, 4> kChords{{
        {{0, 1, 9}, 10},
        {{21, 22, 30}, 31},
        {{38, 39, 47}, 48},
        {{7, 8, 16}, 17},
    }};

    // A press this many scans or fewer after the key's release is the contact, not a finger:
    // the key read open at most three times, under 100 ms.
    static constexpr int kQuickPressScans = 4;
    // A key chatters when it pressed itself again that quickly, or when the debounce hid this
    // many closings of it; a single hidden closing may be a light touch.
    static constexpr int kBouncesOfChatter = 2;
    // Keys a line swap must put back in order before it is named; one key pressed out of
    // turn is a slip of the hand, not a swap.
    static constexpr int kSwapEvidence = 2;
    // A first press made while this many other positions are closed belongs to a chord,
    // not to the walk.
    static constexpr int kChordSize = 3;

    // One successful read of `row`: the word the chip returned (a column reads closed where
    // its line is low). A read of a row at or before the previous one starts a new scan.
    void OnRead(int row, DWORD word);
    // The presses and releases the scan made of the latest read (keys 0-48).
    void OnKeyEvents(std::span<const KeyEvent> events);

    WiringReport Report() const;

    int Scans() const { return scans_; }

private:
    using Closed = std::bitset<kPositions>;
    // A mapping of rows and of columns: observed to pressed, or its inverse.
    struct Wiring {
        std::array<int, kRows> row{};
        std::array<int, kColumns> column{};
        int Map(int position) const {
            return row[static_cast<std::size_t>(position / kColumns)] * kColumns +
                   column[static_cast<std::size_t>(position % kColumns)];
        }
    };
    struct Position {
        bool raw = false;      // closed at the latest read
        bool pressed = false;  // between a press and a release of the scan
        bool closedAtStart = false;
        bool walked = false;  // in walk_
        DWORD counter = 0;    // the scan's debounce, kept here for positions 49-71
        int presses = 0;
        int bounces = 0;
        int quickPresses = 0;
        int lastRelease = -1;  // scan of the latest release
    };

    void Press(int position);
    void Release(int position);
    // The positions of the walk, mapped by `wiring`.
    std::vector<int> MappedWalk(const Wiring& wiring) const;
    // Swaps of two row lines or two column lines that put the walk in order, as findings;
    // `wiring` ends as the mapping they make.
    std::vector<WiringFinding> FindSwaps(Wiring& wiring) const;
    // The chord's ghost corner closed only while the chord was held. Sets `held` when the
    // chord was held at all.
    bool GhostAppeared(const Chord& chord, const Wiring& inverse, bool& held) const;

    std::array<Position, kPositions> positions_{};
    std::array<bool, kRows> rowRead_{};
    int lastRow_ = kRows;
    int scans_ = 0;
    // The closed positions from scan `scan` (counted from 0) on, recorded where they
    // changed, so a long session costs memory by what was played, not by its length.
    struct Change {
        int scan;
        Closed closed;
    };
    Closed closed_;  // closed positions, each row as last read
    std::vector<Change> changes_;
    std::vector<int> walk_;  // positions in the order of their first press alone
};

}  // namespace device
