#include "device/WiringCheck.h"

#include <algorithm>
#include <numeric>
#include <tuple>
#include <utility>

#include "device/MatrixLines.h"

namespace device {

namespace {

// How many entries of `values` (all different) stand out of the longest ascending run.
int Disorder(const std::vector<int>& values) {
    std::vector<int> tails;  // smallest last value of an ascending run of each length
    for (const int value : values) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), value);
        if (at == tails.end()) {
            tails.push_back(value);
        } else {
            *at = value;
        }
    }
    return static_cast<int>(values.size() - tails.size());
}

// For each entry: whether it is read before a lower value or after a higher key. A position
// without a key (49-71) read early is out of order itself, but does not put every key after
// it out of order too.
std::vector<bool> InInversion(const std::vector<int>& values) {
    const std::size_t n = values.size();
    std::vector<bool> flags(n, false);
    int highest = -1;
    for (std::size_t i = 0; i < n; ++i) {
        flags[i] = values[i] < highest;
        if (values[i] < WiringCheck::kKeys) {
            highest = std::max(highest, values[i]);
        }
    }
    int lowest = WiringCheck::kPositions;
    for (std::size_t i = n; i-- > 0;) {
        flags[i] = flags[i] || values[i] > lowest;
        lowest = std::min(lowest, values[i]);
    }
    return flags;
}

template <typename T>
typename std::vector<T>::const_reference At(const std::vector<T>& v, int i) {
    return v[static_cast<std::size_t>(i)];
}

}  // namespace

void WiringCheck::OnRead(int row, DWORD word) {
    if (row < 0 || row >= kRows) {
        return;
    }
    if (row <= lastRow_) {
        ++scans_;
    }
    lastRow_ = row;
    const bool firstRead = !rowRead_[static_cast<std::size_t>(row)];
    rowRead_[static_cast<std::size_t>(row)] = true;
    for (int column = 0; column < kColumns; ++column) {
        const int p = row * kColumns + column;
        Position& pos = positions_[static_cast<std::size_t>(p)];
        const bool closed = (word >> ColumnLine(column) & 1U) == 0;
        if (firstRead && closed) {
            pos.closedAtStart = true;
        }
        // Closed, then open again before the scan made a press of it: the debounce hid it.
        if (pos.raw && !closed && !pos.pressed) {
            ++pos.bounces;
        }
        pos.raw = closed;
        closed_[static_cast<std::size_t>(p)] = closed;
        if (p < kKeys) {
            continue;  // the player's scan reports these keys
        }
        if (closed) {
            if (++pos.counter == KeyScanner::kPressCount) {
                Press(p);
            }
        } else if (pos.counter >= KeyScanner::kPressCount) {
            pos.counter = 0;
            Release(p);
        }
    }
    const int scan = scans_ - 1;
    if (!changes_.empty() && changes_.back().scan == scan) {
        changes_.back().closed = closed_;
    } else if (changes_.empty() || changes_.back().closed != closed_) {
        changes_.push_back({scan, closed_});
    }
}

void WiringCheck::OnKeyEvents(std::span<const KeyEvent> events) {
    for (const KeyEvent& e : events) {
        if (e.key >= kKeys) {
            continue;
        }
        if (e.pressed) {
            Press(e.key);
        } else {
            Release(e.key);
        }
    }
}

void WiringCheck::Press(int position) {
    Position& pos = positions_[static_cast<std::size_t>(position)];
    pos.pressed = true;
    ++pos.presses;
    if (pos.lastRelease >= 0 && scans_ - pos.lastRelease <= kQuickPressScans) {
        ++pos.quickPresses;
    }
    if (pos.walked || pos.closedAtStart) {
        return;
    }
    int othersClosed = 0;
    for (int p = 0; p < kPositions; ++p) {
        const auto& other = positions_[static_cast<std::size_t>(p)];
        othersClosed += p != position && other.raw && !other.closedAtStart ? 1 : 0;
    }
    if (othersClosed < kChordSize) {
        pos.walked = true;
        walk_.push_back(position);
    }
}

void WiringCheck::Release(int position) {
    Position& pos = positions_[static_cast<std::size_t>(position)];
    pos.pressed = false;
    pos.lastRelease = scans_;
}

std::vector<int> WiringCheck::MappedWalk(const Wiring& wiring) const {
    std::vector<int> mapped;
    mapped.reserve(walk_.size());
    for (const int p : walk_) {
        mapped.push_back(wiring.Map(p));
    }
    return mapped;
}

std::vector<WiringFinding> WiringCheck::FindSwaps(Wiring& wiring) const {
    std::vector<WiringFinding> found;
    int disorder = Disorder(MappedWalk(wiring));
    // Greedy: the one swap that puts the most keys back in order, again while one helps.
    for (int round = 0; round < kRows + kColumns && disorder > 0; ++round) {
        int best = disorder;
        WiringFinding bestSwap;
        Wiring bestWiring = wiring;
        const auto consider = [&](const Wiring& candidate, WiringFinding swap) {
            const int d = Disorder(MappedWalk(candidate));
            if (d < best) {
                best = d;
                bestSwap = std::move(swap);
                bestWiring = candidate;
            }
        };
        for (int a = 0; a < kRows; ++a) {
            for (int b = a + 1; b < kRows; ++b) {
                Wiring candidate = wiring;
                std::swap(candidate.row[static_cast<std::size_t>(a)],
                          candidate.row[static_cast<std::size_t>(b)]);
                consider(candidate, {.kind = WiringFinding::Kind::SwappedRowLines,
                                     .lines = {RowLine(a), RowLine(b)},
                                     .rows = {a, b}});
            }
        }
        for (int a = 0; a < kColumns; ++a) {
            for (int b = a + 1; b < kColumns; ++b) {
                Wiring candidate = wiring;
                std::swap(candidate.column[static_cast<std::size_t>(a)],
                          candidate.column[static_cast<std::size_t>(b)]);
                consider(candidate, {.kind = WiringFinding::Kind::SwappedColumnLines,
                                     .lines = {ColumnLine(a), ColumnLine(b)},
                                     .columns = {a, b}});
            }
        }
        if (disorder - best < kSwapEvidence) {
            break;
        }
        found.push_back(std::move(bestSwap));
        wiring = bestWiring;
        disorder = best;
    }
    return found;
}

bool WiringCheck::GhostAppeared(const Chord& chord, const Wiring& inverse, bool& held) const {
    const int scans = scans_;
    const auto ghost = static_cast<std::size_t>(inverse.Map(chord.ghost));
    std::vector<bool> chordHeld(static_cast<std::size_t>(scans), false);
    std::vector<bool> ghostClosed(static_cast<std::size_t>(scans), false);
    Closed closed;
    std::size_t next = 0;
    for (int t = 0; t < scans; ++t) {
        while (next < changes_.size() && changes_[next].scan <= t) {
            closed = changes_[next++].closed;
        }
        const bool all = std::all_of(chord.keys.begin(), chord.keys.end(), [&](int key) {
            return closed[static_cast<std::size_t>(inverse.Map(key))];
        });
        chordHeld[static_cast<std::size_t>(t)] = all;
        ghostClosed[static_cast<std::size_t>(t)] = closed[ghost];
        held = held || all;
    }
    // The rows are read one after another, so a chord's edges may reach the ghost's row a
    // scan before or after the chord's own rows: one scan of slack on either side.
    const auto nearHeld = [&](int t) {
        for (int u = std::max(0, t - 1); u <= std::min(scans - 1, t + 1); ++u) {
            if (At(chordHeld, u)) {
                return true;
            }
        }
        return false;
    };
    for (int start = 0; start < scans;) {
        if (!At(ghostClosed, start)) {
            ++start;
            continue;
        }
        int end = start;
        bool whileHeld = false;
        bool onlyNearHeld = true;
        for (; end < scans && At(ghostClosed, end); ++end) {
            whileHeld = whileHeld || At(chordHeld, end);
            onlyNearHeld = onlyNearHeld && nearHeld(end);
        }
        if (whileHeld && onlyNearHeld) {
            return true;
        }
        start = end;
    }
    return false;
}

WiringReport WiringCheck::Report() const {
    using Kind = WiringFinding::Kind;
    WiringReport report;
    report.scans = scans_;

    Wiring wiring;
    std::iota(wiring.row.begin(), wiring.row.end(), 0);
    std::iota(wiring.column.begin(), wiring.column.end(), 0);
    std::vector<WiringFinding> swaps = FindSwaps(wiring);
    // Rows before columns, each by line, whatever order the search took them in.
    std::sort(swaps.begin(), swaps.end(), [](const WiringFinding& a, const WiringFinding& b) {
        return std::tie(a.kind, a.lines) < std::tie(b.kind, b.lines);
    });
    // Physical row and column to the observed ones: where each key was read.
    Wiring inverse;
    for (int r = 0; r < kRows; ++r) {
        inverse.row[static_cast<std::size_t>(wiring.row[static_cast<std::size_t>(r)])] = r;
    }
    for (int c = 0; c < kColumns; ++c) {
        inverse.column[static_cast<std::size_t>(wiring.column[static_cast<std::size_t>(c)])] = c;
    }
    const auto observed = [&](int key) -> const Position& {
        return positions_[static_cast<std::size_t>(inverse.Map(key))];
    };

    Closed readOutOfOrder;
    const std::vector<bool> inversion = InInversion(walk_);
    for (std::size_t i = 0; i < walk_.size(); ++i) {
        readOutOfOrder[static_cast<std::size_t>(walk_[i])] = inversion[i];
    }
    for (int k = 0; k < kKeys; ++k) {
        const Position& pos = observed(k);
        const int readAs = inverse.Map(k);
        auto& key = report.keys[static_cast<std::size_t>(k)];
        key = {.key = k,
               .row = k / kColumns,
               .column = k % kColumns,
               .readAs = readAs == k ? -1 : readAs,
               .seen = pos.presses > 0,
               .presses = pos.presses,
               .bounces = pos.bounces,
               .stuck = pos.closedAtStart || pos.pressed,
               .outOfOrder = readOutOfOrder[static_cast<std::size_t>(readAs)]};
        report.keysSeen += key.seen ? 1 : 0;
    }
    const auto seen = [&](int key) { return report.keys[static_cast<std::size_t>(key)].seen; };

    auto& findings = report.findings;
    if (walk_.empty()) {
        findings.push_back({.kind = Kind::NoKeysSeen});
    }
    findings.insert(findings.end(), swaps.begin(), swaps.end());

    std::array<bool, kRows> openRow{};
    std::array<bool, kColumns> openColumn{};
    if (!walk_.empty()) {
        for (int r = 0; r * kColumns < kKeys; ++r) {
            bool any = false;
            for (int k = r * kColumns; k < std::min(kKeys, (r + 1) * kColumns); ++k) {
                any = any || seen(k);
            }
            if (!any) {
                openRow[static_cast<std::size_t>(r)] = true;
                findings.push_back({.kind = Kind::OpenRowLine,
                                    .lines = {RowLine(inverse.row[static_cast<std::size_t>(r)])},
                                    .rows = {r}});
            }
        }
        for (int c = 0; c < kColumns; ++c) {
            bool any = false;
            for (int k = c; k < kKeys; k += kColumns) {
                any = any || seen(k);
            }
            if (!any) {
                openColumn[static_cast<std::size_t>(c)] = true;
                findings.push_back(
                    {.kind = Kind::OpenColumnLine,
                     .lines = {ColumnLine(inverse.column[static_cast<std::size_t>(c)])},
                     .columns = {c}});
            }
        }
        for (int k = 0; k < kKeys; ++k) {
            if (!seen(k) && !openRow[static_cast<std::size_t>(k / kColumns)] &&
                !openColumn[static_cast<std::size_t>(k % kColumns)]) {
                findings.push_back({.kind = Kind::DeadKey, .keys = {k}});
            }
        }
    }
    for (int k = 0; k < kKeys; ++k) {
        const Position& pos = observed(k);
        if (pos.quickPresses > 0 || pos.bounces >= kBouncesOfChatter) {
            findings.push_back({.kind = Kind::ChatteringSwitch,
                                .keys = {k},
                                .bounces = pos.bounces,
                                .quickPresses = pos.quickPresses});
        }
    }
    for (int k = 0; k < kKeys; ++k) {
        const Position& pos = observed(k);
        if (pos.closedAtStart || pos.pressed) {
            const int at = inverse.Map(k);
            findings.push_back({.kind = Kind::StuckKey,
                                .lines = {RowLine(at / kColumns), ColumnLine(at % kColumns)},
                                .keys = {k},
                                .closedAtStart = pos.closedAtStart,
                                .closedAtEnd = pos.pressed});
        }
    }
    for (int p = kKeys; p < kPositions; ++p) {
        const Position& pos = observed(p);
        if (pos.presses > 0 || pos.closedAtStart) {
            const int at = inverse.Map(p);
            findings.push_back({.kind = Kind::ClosedWithoutKey,
                                .lines = {RowLine(at / kColumns), ColumnLine(at % kColumns)},
                                .rows = {p / kColumns},
                                .columns = {p % kColumns},
                                .keys = {p}});
        }
    }
    for (const Chord& chord : kChords) {
        if (GhostAppeared(chord, inverse, report.chordHeld)) {
            findings.push_back({.kind = Kind::GhostKey,
                                .keys = {chord.ghost},
                                .heldKeys = {chord.keys.begin(), chord.keys.end()}});
        }
    }
    // What no swap explains: keys still out of the ascending walk once the swaps are undone.
    const std::vector<int> mapped = MappedWalk(wiring);
    const std::vector<bool> stillOut = InInversion(mapped);
    WiringFinding outOfOrder{.kind = Kind::OutOfOrder};
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        if (stillOut[i] && mapped[i] < kKeys) {
            outOfOrder.keys.push_back(mapped[i]);
        }
    }
    if (!outOfOrder.keys.empty()) {
        std::sort(outOfOrder.keys.begin(), outOfOrder.keys.end());
        findings.push_back(std::move(outOfOrder));
    }
    return report;
}

}  // namespace device
