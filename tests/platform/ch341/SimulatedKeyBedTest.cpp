#include "platform/ch341/SimulatedKeyBed.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace platform::ch341 {
namespace {

constexpr ULONG kDirection = 0xFC00F;

DWORD Read(SimulatedKeyBed& bed) {
    DWORD word = 0;
    EXPECT_TRUE(bed.GetInput(0, &word));
    return word;
}

class SimulatedKeyBedTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bed.OpenDevice(0));
        ASSERT_TRUE(bed.InitParallel(0, 2));
    }
    // Drives `rowLine` low and every other output high, as one scan step does.
    void SelectLine(int rowLine) {
        ASSERT_TRUE(bed.SetOutput(0, 0xFF, kDirection, ~(1U << rowLine)));
    }

    SimulatedKeyBed bed;
};

TEST_F(SimulatedKeyBedTest, OpenMatrixReadsColumnsHighAndOutputsAsDriven) {
    SelectLine(0);
    // Columns 4-11 and 13 high, row line 0 low, lines 1-3 and 14-15 high, 12 reads 0, SDA 1.
    EXPECT_EQ(Read(bed), 0x0080EFFEU);
}

TEST_F(SimulatedKeyBedTest, ClosedSwitchPullsItsColumnLowOnlyWhileItsRowIsSelected) {
    struct Case {
        int row;
        int column;
        int selectedLine;
        DWORD lowLine;  // 0: nothing pulled low beyond the row line
    };
    const Case cases[] = {
        {0, 0, 0, 1U << 4},   {2, 8, 2, 1U << 13}, {5, 3, 15, 1U << 7}, {7, 8, 17, 1U << 13},
        {6, 7, 16, 1U << 11}, {3, 8, 2, 0},        {4, 0, 0, 0},
    };
    for (const Case& c : cases) {
        bed.SetSwitch(c.row, c.column, true);
        SelectLine(c.selectedLine);
        const DWORD idle = 0x0080EFFFU & ~(1U << c.selectedLine);
        EXPECT_EQ(Read(bed), idle & ~c.lowLine) << "row " << c.row << " column " << c.column;
        bed.SetSwitch(c.row, c.column, false);
        EXPECT_EQ(Read(bed), idle);
    }
}

TEST_F(SimulatedKeyBedTest, KeyIndexIsNineTimesRowPlusColumn) {
    bed.Press(48);  // row 5, column 3
    EXPECT_TRUE(bed.IsClosed(48));
    SelectLine(15);
    EXPECT_EQ(Read(bed) & (1U << 7), 0U);
    bed.Release(48);
    EXPECT_FALSE(bed.IsClosed(48));
}

TEST_F(SimulatedKeyBedTest, EnableFlagsApplyOnlyTheirPartOfTheWords) {
    // Only D0-D7 data: the row line 14 is still an output driven high from before.
    ASSERT_TRUE(bed.SetOutput(0, 0x04, 0xFFFFFFFF, 0x00000000));
    EXPECT_EQ(bed.Data() & 0xFF, 0U);
    EXPECT_EQ(bed.Data() & 0x4000, 0x4000U);
    EXPECT_EQ(bed.Direction(), SimulatedKeyBed::kDefaultDirection);
}

TEST_F(SimulatedKeyBedTest, ReadsFailOnDemandAndWhenClosedWithADefinedWord) {
    bed.FailReads(1);
    DWORD word = 0;
    EXPECT_FALSE(bed.GetInput(0, &word));
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
    EXPECT_TRUE(bed.GetInput(0, &word));

    bed.CloseDevice(0);
    word = 0;
    EXPECT_FALSE(bed.GetInput(0, &word));
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
    EXPECT_FALSE(bed.SetOutput(0, 0xFF, kDirection, ~1U));
}

// The combined call reads what SetOutput then GetInput would, and each call costs the
// transfers the USB driver makes for it; failures cost none when nothing reaches the bus.
TEST_F(SimulatedKeyBedTest, SetOutputThenGetInputReadsTheRowItSelectsInTwoTransfers) {
    bed.Press(48);  // row 5 (line 15), column 3 (line 7)
    const int before = bed.Transfers();
    DWORD word = 0;
    ASSERT_TRUE(bed.SetOutputThenGetInput(0, 0xFF, kDirection, ~(1U << 15), &word));
    EXPECT_EQ(word, 0x0080EFFFU & ~(1U << 15) & ~(1U << 7));
    EXPECT_EQ(bed.Data(), ~(1U << 15));
    EXPECT_EQ(bed.Transfers(), before + 2);
    SelectLine(15);
    EXPECT_EQ(Read(bed), word);
    EXPECT_EQ(bed.Transfers(), before + 5) << "SetOutput one, GetInput two";

    bed.FailReads(1);
    EXPECT_FALSE(bed.SetOutputThenGetInput(0, 0xFF, kDirection, ~1U, &word));
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
    EXPECT_EQ(bed.Data(), ~1U) << "the lines were set before the read failed";
    EXPECT_FALSE(bed.SetOutputThenGetInput(0, 0xFF, kDirection, ~1U, nullptr));
    bed.CloseDevice(0);
    word = 0;
    EXPECT_FALSE(bed.SetOutputThenGetInput(0, 0xFF, kDirection, ~1U, &word));
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
    EXPECT_EQ(bed.Transfers(), before + 7) << "the failed read went out; the others did not";
}

// Each fault as the chip's lines show it: the columns read low while one line selects a row.
TEST_F(SimulatedKeyBedTest, WiringFaultsShowInTheLineLevels) {
    using Fault = SimulatedKeyBed::SwitchFault;
    struct Case {
        const char* name;
        std::function<void(SimulatedKeyBed&)> wire;
        std::vector<int> pressed;
        int selectedLine;
        DWORD lowColumns;
    };
    const std::vector<Case> cases{
        {"sound: key 20 (row 2, column 2) pulls line 6", [](auto&) {}, {20}, 2, 1U << 6},
        {"dead switch", [](auto& b) { b.SetSwitchFault(20, Fault::Dead); }, {20}, 2, 0},
        {"stuck switch, nothing pressed",
         [](auto& b) { b.SetSwitchFault(20, Fault::StuckClosed); },
         {},
         2,
         1U << 6},
        {"row line cut", [](auto& b) { b.SetLineOpen(2, true); }, {20}, 2, 0},
        {"column line cut", [](auto& b) { b.SetLineOpen(6, true); }, {20}, 2, 0},
        {"column line cut, other columns unharmed",
         [](auto& b) { b.SetLineOpen(6, true); },
         {19, 20},
         2,
         1U << 5},
        {"column lines 5 and 6 swapped: column 1 reads on line 6",
         [](auto& b) { b.SwapLines(5, 6); },
         {19},
         2,
         1U << 6},
        {"row lines 0 and 1 swapped: row 0 answers line 1",
         [](auto& b) { b.SwapLines(0, 1); },
         {2},
         1,
         1U << 6},
        {"row lines 0 and 1 swapped: line 0 finds row 1",
         [](auto& b) { b.SwapLines(0, 1); },
         {2},
         0,
         0},
        {"swapping twice restores",
         [](auto& b) {
             b.SwapLines(5, 6);
             b.SwapLines(6, 5);
         },
         {19},
         2,
         1U << 5},
        {"a row line and a non-matrix line cannot swap",
         [](auto& b) { b.SwapLines(2, 12); },
         {20},
         2,
         1U << 6},
        {"diodes: three corners held, the fourth stays open", [](auto&) {}, {0, 1, 9}, 1, 1U << 4},
        {"no diodes: three corners held, the fourth (key 10) reads closed",
         [](auto& b) { b.SetDiodes(false); },
         {0, 1, 9},
         1,
         1U << 4 | 1U << 5},
        {"no diodes: the ghost shows on the other row too",
         [](auto& b) { b.SetDiodes(false); },
         {1, 9, 10},
         0,
         1U << 4 | 1U << 5},
        {"no diodes: two keys in a column make no ghost",
         [](auto& b) { b.SetDiodes(false); },
         {0, 9},
         1,
         1U << 4},
        {"no diodes: a path through three rows",
         [](auto& b) { b.SetDiodes(false); },
         {9, 0, 2, 20},
         1,
         1U << 4 | 1U << 6},
    };
    for (const Case& c : cases) {
        SimulatedKeyBed faulty{true, std::chrono::microseconds::zero()};
        ASSERT_TRUE(faulty.OpenDevice(0));
        c.wire(faulty);
        for (const int key : c.pressed) {
            faulty.Press(key);
        }
        ASSERT_TRUE(faulty.SetOutput(0, 0xFF, kDirection, ~(1U << c.selectedLine)));
        const DWORD columns = 0x2FF0;  // lines 4-11 and 13
        EXPECT_EQ(~Read(faulty) & columns, c.lowColumns) << c.name;
    }
}

// The contact alternates over the reads of its own row after each change, then settles;
// reads of other rows leave it where it is.
TEST_F(SimulatedKeyBedTest, ChatteringContactAlternatesOverItsRowsReads) {
    bed.SetSwitchFault(10, SimulatedKeyBed::SwitchFault::Chatter);  // row 1, column 1: line 5
    const auto pattern = [&](int reads) {
        std::string seen;
        for (int i = 0; i < reads; ++i) {
            SelectLine(0);
            Read(bed);
            SelectLine(1);
            seen += (Read(bed) & 1U << 5) == 0 ? 'X' : '.';
        }
        return seen;
    };
    bed.Press(10);
    EXPECT_EQ(pattern(SimulatedKeyBed::kChatterReads + 2), "X.X.XXX");
    bed.Release(10);
    EXPECT_EQ(pattern(SimulatedKeyBed::kChatterReads + 2), ".X.X...");
    bed.SetSwitchFault(10, SimulatedKeyBed::SwitchFault::None);
    bed.Press(10);
    EXPECT_EQ(pattern(3), "XXX");
}

TEST(SimulatedKeyBedPlug, PlugAndUnplugNotifyAndGateOpening) {
    SimulatedKeyBed bed(false);
    std::vector<ULONG> codes;
    bed.SetDeviceNotify(0, [&codes](ULONG code) { codes.push_back(code); });
    EXPECT_FALSE(bed.OpenDevice(0));
    bed.Plug();
    EXPECT_TRUE(bed.OpenDevice(0));
    EXPECT_FALSE(bed.OpenDevice(1));
    bed.Unplug();
    EXPECT_FALSE(bed.IsOpen());
    DWORD word = 0;
    EXPECT_FALSE(bed.GetInput(0, &word));
    bed.Notify(65);
    bed.Plug();
    bed.SetOpenFails(true);
    EXPECT_FALSE(bed.OpenDevice(0));
    bed.SetDeviceNotify(0, nullptr);
    bed.Unplug();
    EXPECT_EQ(codes, (std::vector<ULONG>{3, 0, 65, 3}));
}

}  // namespace
}  // namespace platform::ch341
