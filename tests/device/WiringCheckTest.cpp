// The wiring check over the player's own scan of the simulated key bed, tick by tick without
// a thread: a user walks the keys and holds the chord steps on a bed with one fault injected,
// and the check must name that fault, and nothing else.

#include "device/WiringCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device/KeyScanner.h"
#include "device/RawReadTap.h"
#include "platform/ch341/SimulatedKeyBed.h"

namespace device {
namespace {

using platform::ch341::SimulatedKeyBed;
using Fault = SimulatedKeyBed::SwitchFault;

// "kind lines=[..] keys=[..]": what a finding names, compared as text.
std::string Named(const WiringFinding& f) {
    std::ostringstream out;
    out << KindName(f.kind);
    const auto list = [&](const char* name, const std::vector<int>& values) {
        if (values.empty()) {
            return;
        }
        out << ' ' << name << '=';
        for (std::size_t i = 0; i < values.size(); ++i) {
            out << (i > 0 ? "," : "") << values[i];
        }
    };
    list("lines", f.lines);
    list("keys", f.keys);
    return out.str();
}

std::vector<std::string> Named(const WiringReport& report) {
    std::vector<std::string> named;
    for (const auto& f : report.findings) {
        named.push_back(Named(f));
    }
    return named;
}

// The simulated key bed, the player's scan of it and a check of what the scan saw, driven
// scan by scan as the key-bed thread does: each row's read, then that row's events.
struct Rig {
    Rig() {
        EXPECT_TRUE(bed.OpenDevice(0));
        EXPECT_TRUE(bed.InitParallel(0, 2));
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void Scan(int scans = 1) {
        for (int i = 0; i < scans; ++i) {
            for (int row = 0; row < KeyScanner::kRows; ++row) {
                std::vector<KeyEvent> events;
                scanner.ScanRow(tap, 0, row, events);
                check.OnKeyEvents(events);
            }
        }
    }
    // Down for three scans, up for two: a finger, well above the debounce.
    void Tap(int position) {
        bed.Press(position);
        Scan(3);
        bed.Release(position);
        Scan(2);
    }
    // Every key once from the lowest to the highest; `finger` is where each press lands.
    void Walk(const std::function<int(int)>& finger = [](int key) { return key; }) {
        for (int key = 0; key < WiringCheck::kKeys; ++key) {
            Tap(finger(key));
        }
    }
    void Chords() {
        for (const auto& chord : WiringCheck::kChords) {
            for (const int key : chord.keys) {
                bed.Press(key);
            }
            Scan(4);
            for (const int key : chord.keys) {
                bed.Release(key);
            }
            Scan(2);
        }
    }
    // Idle a moment, the walk, the chords, idle again: the whole guided session.
    WiringReport Session() {
        Scan(2);
        Walk();
        Chords();
        Scan(2);
        return check.Report();
    }

    SimulatedKeyBed bed{true, std::chrono::microseconds::zero()};
    KeyScanner scanner;
    WiringCheck check;
    RawReadTap tap{bed, [this](int row, DWORD word) { check.OnRead(row, word); }};
};

bool InAChord(int key) {
    for (const auto& chord : WiringCheck::kChords) {
        if (std::find(chord.keys.begin(), chord.keys.end(), key) != chord.keys.end()) {
            return true;
        }
    }
    return false;
}

TEST(WiringCheck, SoundBedGivesNoFindingAndCountsEachKey) {
    Rig rig;
    const WiringReport report = rig.Session();
    EXPECT_TRUE(report.Sound()) << ::testing::PrintToString(Named(report));
    EXPECT_EQ(report.keysSeen, 49);
    EXPECT_TRUE(report.chordHeld);
    EXPECT_EQ(report.scans, 2 + 49 * 5 + 4 * 6 + 2);
    for (const auto& key : report.keys) {
        EXPECT_EQ(key.presses, InAChord(key.key) ? 2 : 1) << key.key;
        EXPECT_EQ(key.row * 9 + key.column, key.key);
        EXPECT_EQ(key.bounces, 0);
        EXPECT_EQ(key.readAs, -1);
        EXPECT_FALSE(key.stuck);
        EXPECT_FALSE(key.outOfOrder);
    }
}

// One fault each (and the users' own combination); every finding the check must give for
// it, in the report's order, and no other.
TEST(WiringCheck, NamesEachInjectedFault) {
    struct Case {
        const char* name;
        std::function<void(SimulatedKeyBed&)> fault;
        std::vector<std::string> findings;
    };
    const std::vector<Case> cases{
        {"dead key 30", [](auto& b) { b.SetSwitchFault(30, Fault::Dead); }, {"dead_key keys=30"}},
        {"dead key 48, the highest",
         [](auto& b) { b.SetSwitchFault(48, Fault::Dead); },
         {"dead_key keys=48"}},
        {"row 2's line (line 2) open",
         [](auto& b) { b.SetLineOpen(2, true); },
         {"open_row_line lines=2"}},
        {"row 5's line (line 15) open: the four keys of the short row",
         [](auto& b) { b.SetLineOpen(15, true); },
         {"open_row_line lines=15"}},
        {"column 8's line (line 13) open",
         [](auto& b) { b.SetLineOpen(13, true); },
         {"open_column_line lines=13"}},
        {"column lines 5 and 6 swapped (neighbours)",
         [](auto& b) { b.SwapLines(5, 6); },
         {"swapped_column_lines lines=5,6"}},
        {"column lines 4 and 13 swapped (first and last)",
         [](auto& b) { b.SwapLines(4, 13); },
         {"swapped_column_lines lines=4,13"}},
        {"column lines 6 and 11 swapped: row 5 reads where no key is",
         [](auto& b) { b.SwapLines(6, 11); },
         {"swapped_column_lines lines=6,11"}},
        {"row lines 0 and 1 swapped",
         [](auto& b) { b.SwapLines(0, 1); },
         {"swapped_row_lines lines=0,1"}},
        {"row lines 14 and 15 swapped (rows 4 and 5)",
         [](auto& b) { b.SwapLines(14, 15); },
         {"swapped_row_lines lines=14,15"}},
        {"row lines 3 and 16 swapped: row 3 reads where no key is",
         [](auto& b) { b.SwapLines(3, 16); },
         {"swapped_row_lines lines=3,16"}},
        {"chattering switch of key 14",
         [](auto& b) { b.SetSwitchFault(14, Fault::Chatter); },
         {"chattering_switch keys=14"}},
        {"key 5 stuck closed: its switch or a short between lines 0 and 9",
         [](auto& b) { b.SetSwitchFault(5, Fault::StuckClosed); },
         {"stuck_key lines=0,9 keys=5"}},
        {"position 60 closed: no key there",
         [](auto& b) { b.SetSwitchFault(60, Fault::StuckClosed); },
         {"closed_without_key lines=16,10 keys=60"}},
        {"no diodes: every chord shows its ghost",
         [](auto& b) { b.SetDiodes(false); },
         {"ghost_key keys=10", "ghost_key keys=31", "ghost_key keys=48", "ghost_key keys=17"}},
        {"dead key, chattering switch and swapped column lines together",
         [](auto& b) {
             b.SetSwitchFault(20, Fault::Dead);
             b.SetSwitchFault(40, Fault::Chatter);
             b.SwapLines(7, 9);
         },
         {"swapped_column_lines lines=7,9", "dead_key keys=20", "chattering_switch keys=40"}},
        {"swapped rows and swapped columns together",
         [](auto& b) {
             b.SwapLines(1, 2);
             b.SwapLines(8, 10);
         },
         {"swapped_row_lines lines=1,2", "swapped_column_lines lines=8,10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.fault(rig.bed);
        EXPECT_EQ(Named(rig.Session()), c.findings);
    }
}

// What the table of keys says when lines are swapped: where each key was read, and which
// came out of the walk's order.
TEST(WiringCheck, SwappedKeysAreReportedWhereTheyWereRead) {
    Rig rig;
    rig.bed.SwapLines(5, 6);  // columns 1 and 2
    const WiringReport report = rig.Session();
    for (const auto& key : report.keys) {
        SCOPED_TRACE(key.key);
        const int column = key.key % 9;
        const bool moved = column == 1 || column == 2;
        EXPECT_EQ(key.readAs, moved ? key.key + (column == 1 ? 1 : -1) : -1);
        EXPECT_EQ(key.outOfOrder, moved);
        EXPECT_TRUE(key.seen);
    }
    ASSERT_EQ(report.findings.size(), 1U);
    EXPECT_EQ(report.findings[0].columns, (std::vector<int>{1, 2}));
}

TEST(WiringCheck, ChatteringSwitchCountsItsBouncesAndExtraPresses) {
    Rig rig;
    rig.bed.SetSwitchFault(14, Fault::Chatter);
    const WiringReport report = rig.Session();
    const auto& key = report.keys[14];
    // Down for three reads: closed, open, closed (a bounce, then the press). Let go: open,
    // closed, open, closed, open (the release, a bounce, a press of its own, a release).
    EXPECT_EQ(key.presses, 2);
    EXPECT_EQ(key.bounces, 2);
    ASSERT_EQ(report.findings.size(), 1U);
    EXPECT_EQ(report.findings[0].bounces, 2);
    EXPECT_EQ(report.findings[0].quickPresses, 1);
}

// Where a contact's chatter ends and a finger begins.
TEST(WiringCheck, ChatterIsAQuickRepressOrTwoHiddenClosings) {
    struct Case {
        const char* name;
        std::string contact;  // key 22's contact, one character a scan: X closed, . open
        bool chatters;
    };
    const std::vector<Case> cases{
        {"opens for one scan mid-press", "XXX.XXX", true},
        {"opens for three scans mid-press", "XXX...XXX", true},
        {"pressed again after four open scans, as a finger can", "XXX....XXX", false},
        {"one closing hidden: a light touch", "X.....XXX", false},
        {"two closings hidden, around a press of their own", "X.X.X....XXX", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Scan(2);
        for (int key = 0; key < WiringCheck::kKeys; ++key) {
            if (key != 22) {
                rig.Tap(key);
                continue;
            }
            for (const char state : c.contact) {
                if (state == 'X') {
                    rig.bed.Press(key);
                } else {
                    rig.bed.Release(key);
                }
                rig.Scan();
            }
            rig.bed.Release(key);
            rig.Scan(2);
        }
        const WiringReport report = rig.check.Report();
        EXPECT_EQ(Named(report), c.chatters ? std::vector<std::string>{"chattering_switch keys=22"}
                                            : std::vector<std::string>{});
    }
}

// What the user does, not the wiring: each must be told apart from a fault of the bed.
TEST(WiringCheck, UsersOwnSlipsAreToldApartFromWiringFaults) {
    {
        SCOPED_TRACE("two keys pressed out of turn are not a swapped line");
        Rig rig;
        rig.Scan(2);
        rig.Walk([](int key) { return key == 4 ? 5 : key == 5 ? 4 : key; });
        rig.Chords();
        EXPECT_EQ(Named(rig.check.Report()), (std::vector<std::string>{"out_of_order keys=4,5"}));
    }
    {
        SCOPED_TRACE("a light touch leaves a bounce, not a chattering switch");
        Rig rig;
        rig.Scan(2);
        rig.bed.Press(12);
        rig.Scan(1);
        rig.bed.Release(12);
        rig.Scan(3);
        rig.Walk();
        rig.Chords();
        const WiringReport report = rig.check.Report();
        EXPECT_TRUE(report.Sound()) << ::testing::PrintToString(Named(report));
        EXPECT_EQ(report.keys[12].bounces, 1);
    }
    {
        SCOPED_TRACE("a key held when the test ends is reported stuck, never released");
        Rig rig;
        rig.Session();
        rig.bed.Press(33);
        rig.Scan(3);
        const WiringReport report = rig.check.Report();
        EXPECT_EQ(Named(report), (std::vector<std::string>{"stuck_key lines=3,10 keys=33"}));
        EXPECT_FALSE(report.findings[0].closedAtStart);
        EXPECT_TRUE(report.findings[0].closedAtEnd);
        EXPECT_TRUE(report.keys[33].stuck);
    }
    {
        SCOPED_TRACE("no chord held: sound, but the diodes were not checked");
        Rig rig;
        rig.Scan(2);
        rig.Walk();
        const WiringReport report = rig.check.Report();
        EXPECT_TRUE(report.Sound());
        EXPECT_FALSE(report.chordHeld);
    }
    {
        SCOPED_TRACE("nothing pressed: said once, not as 49 dead keys");
        Rig rig;
        rig.Scan(20);
        const WiringReport report = rig.check.Report();
        EXPECT_EQ(Named(report), (std::vector<std::string>{"no_keys_seen"}));
        EXPECT_EQ(report.keysSeen, 0);
    }
}

// A switch wired to the lines of a place with no key: the key is dead and that place closes.
TEST(WiringCheck, MiswiredSwitchShowsAsADeadKeyAndAPlaceWithoutKey) {
    Rig rig;
    rig.Scan(2);
    rig.Walk([](int key) { return key == 20 ? 60 : key; });
    rig.Chords();
    EXPECT_EQ(
        Named(rig.check.Report()),
        (std::vector<std::string>{"dead_key keys=20", "closed_without_key lines=16,10 keys=60"}));
}

// The ghost is named with the chord that made it; its own press in the walk is no ghost, and
// a fourth key a finger really held past the chord is none either (the diodes then go
// unproven by that chord).
TEST(WiringCheck, GhostKeyIsTheCornerNobodyPressed) {
    {
        Rig rig;
        rig.bed.SetDiodes(false);
        const WiringReport report = rig.Session();
        ASSERT_FALSE(report.findings.empty());
        EXPECT_EQ(report.findings[0].keys, (std::vector<int>{10}));
        EXPECT_EQ(report.findings[0].heldKeys, (std::vector<int>{0, 1, 9}));
        EXPECT_EQ(report.keys[10].presses, 2) << "its own press and the ghost's";
    }
    {
        Rig rig;
        rig.bed.SetDiodes(false);
        rig.Scan(2);
        rig.Walk();
        for (const int key : {0, 1, 9}) {
            rig.bed.Press(key);
        }
        rig.Scan(2);
        rig.bed.Press(10);  // by a finger, after the chord, and let go after it
        rig.Scan(4);
        for (const int key : {0, 1, 9}) {
            rig.bed.Release(key);
        }
        rig.Scan(3);
        rig.bed.Release(10);
        rig.Scan(2);
        EXPECT_TRUE(rig.check.Report().Sound());
    }
}

}  // namespace
}  // namespace device
