#include "device/KeyScanner.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ch341/SimulatedKeyBed.h"

namespace device {
namespace {

using platform::ch341::SimulatedKeyBed;

struct TickEvent {
    int tick;
    int key;
    bool pressed;
    friend bool operator==(const TickEvent&, const TickEvent&) = default;
};

std::ostream& operator<<(std::ostream& out, const TickEvent& e) {
    return out << "{tick " << e.tick << ", key " << e.key << (e.pressed ? " press}" : " release}");
}

class KeyScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bed.OpenDevice(0));
        ASSERT_TRUE(bed.InitParallel(0, 2));
    }

    // Runs one tick per character of `pattern` with `key` closed on 'X' and open on '.'.
    std::vector<TickEvent> Run(int key, const std::string& pattern) {
        std::vector<TickEvent> seen;
        for (std::size_t tick = 0; tick < pattern.size(); ++tick) {
            if (pattern[tick] == 'X') {
                bed.Press(key);
            } else {
                bed.Release(key);
            }
            std::vector<KeyEvent> events;
            scanner.Scan(bed, 0, events);
            for (const KeyEvent& e : events) {
                EXPECT_EQ(e.row, e.key / 9);
                EXPECT_EQ(e.column, e.key % 9);
                seen.push_back({static_cast<int>(tick) + 1, e.key, e.pressed});
            }
        }
        return seen;
    }

    SimulatedKeyBed bed;
    KeyScanner scanner;
};

TEST_F(KeyScannerTest, DebouncesEachKeyOverTicks) {
    struct Case {
        const char* name;
        int key;
        std::string ticks;
        std::vector<TickEvent> expected;
    };
    const std::vector<Case> cases{
        {"press at the second closed reading, release at the first open",
         10,
         "XXX.",
         {{2, 10, true}, {4, 10, false}}},
        {"a single closed reading sounds nothing", 11, "X...", {}},
        {"a bounce is remembered until the next closed reading",
         12,
         "X...X.",
         {{5, 12, true}, {6, 12, false}}},
        {"open readings below two leave the key idle",
         13,
         ".X.X.",
         {{4, 13, true}, {5, 13, false}}},
        {"key 48 is the highest that sounds", 48, "XX.", {{2, 48, true}, {3, 48, false}}},
        {"key 49 never sounds", 49, "XXXX.", {}},
        {"key 71 never sounds", 71, "XXXX.", {}},
        {"column 8 is read from bit 13", 8, "XX.", {{2, 8, true}, {3, 8, false}}},
        {"row 4 through line 14", 36, "XX.", {{2, 36, true}, {3, 36, false}}},
        {"row 7 is read through line 17 but never sounds", 70, "XXX", {}},  // last: stays closed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.key, c.ticks), c.expected) << c.name;
    }
    EXPECT_EQ(scanner.Counter(70), 3U);
}

TEST_F(KeyScannerTest, HoldingForSecondsPressesOnceAndKeepsCounting) {
    const auto events = Run(20, std::string(400, 'X'));  // 10 s of 25 ms ticks
    EXPECT_EQ(events, (std::vector<TickEvent>{{2, 20, true}}));
    EXPECT_EQ(scanner.Counter(20), 400U);
}

TEST_F(KeyScannerTest, EventsOfOneTickComeInAscendingKeyOrder) {
    for (const int key : {40, 3, 17, 12, 60}) {
        bed.Press(key);
    }
    std::vector<KeyEvent> events;
    scanner.Scan(bed, 0, events);
    scanner.Scan(bed, 0, events);
    std::vector<int> keys;
    for (const KeyEvent& e : events) {
        keys.push_back(e.key);
        EXPECT_TRUE(e.pressed);
    }
    EXPECT_EQ(keys, (std::vector<int>{3, 12, 17, 40}));
}

TEST_F(KeyScannerTest, AFailedReadChangesNoKey) {
    bed.Press(5);   // will be sounding
    bed.Press(30);  // will have one reading
    std::vector<KeyEvent> events;
    scanner.Scan(bed, 0, events);
    bed.Release(30);
    scanner.Scan(bed, 0, events);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(scanner.Counter(30), 1U);

    // Every read fails while key 5 opens and key 30 closes: nothing moves.
    bed.Release(5);
    bed.Press(30);
    bed.FailReads(-1);
    events.clear();
    EXPECT_EQ(scanner.Scan(bed, 0, events), 0);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(scanner.Counter(5), 2U);
    EXPECT_EQ(scanner.Counter(30), 1U);

    // One failed row (row 0 holds key 5) skips only that row.
    bed.FailReads(1);
    EXPECT_EQ(scanner.Scan(bed, 0, events), 7);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0], (KeyEvent{30, 3, 3, true}));
    events.clear();
    scanner.Scan(bed, 0, events);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0], (KeyEvent{5, 0, 5, false}));
}

// A device that answers with fixed words and records what the scan drives.
class WordDevice : public platform::ch341::ICh341Device {
public:
    bool SetDeviceNotify(ULONG, NotifyRoutine) override { return true; }
    bool OpenDevice(ULONG) override { return true; }
    void CloseDevice(ULONG) override {}
    bool InitParallel(ULONG, ULONG) override { return true; }
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override {
        outputs.push_back({index, enable, direction, data});
        return true;
    }
    bool GetInput(ULONG, DWORD* word) override {
        *word = word_;
        return true;
    }

    struct Output {
        ULONG index, enable, direction, data;
        friend bool operator==(const Output&, const Output&) = default;
    };
    std::vector<Output> outputs;
    DWORD word_ = 0xFFFFFFFF;
};

TEST(KeyScannerLines, DrivesEachRowLowInTurnAndIgnoresBitTwelve) {
    WordDevice device;
    KeyScanner scanner;
    std::vector<KeyEvent> events;
    device.word_ = ~(1U << 12);  // only the line that does not exist reads low
    scanner.Scan(device, 7, events);
    scanner.Scan(device, 7, events);
    EXPECT_TRUE(events.empty());
    for (int key = 0; key < KeyScanner::kKeys; ++key) {
        EXPECT_EQ(scanner.Counter(key), 0U) << key;
    }
    ASSERT_EQ(device.outputs.size(), 16U);
    const ULONG masks[] = {0x1, 0x2, 0x4, 0x8, 0x4000, 0x8000, 0x10000, 0x20000};
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(device.outputs[static_cast<std::size_t>(row)],
                  (WordDevice::Output{7, 0xFF, 0xFC00F, ~masks[row]}));
    }

    // Bit 13 low closes column 8 of every row: keys 8, 17, ..., 71; five of them sound.
    device.word_ = ~(1U << 13);
    scanner.Scan(device, 7, events);
    scanner.Scan(device, 7, events);
    std::vector<int> keys;
    for (const KeyEvent& e : events) {
        keys.push_back(e.key);
    }
    EXPECT_EQ(keys, (std::vector<int>{8, 17, 26, 35, 44}));
    EXPECT_EQ(scanner.Counter(71), 2U);
}

}  // namespace
}  // namespace device
