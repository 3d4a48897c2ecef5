#include "device/KeyScanner.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ch341/Ch341UsbDevice.h"
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

    // No time per transfer: these tests are about the counters, over hundreds of ticks.
    SimulatedKeyBed bed{true, std::chrono::microseconds::zero()};
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

// A tick selects and reads each row in one exchange: both commands in one transfer, then the
// read; 16 transfers, not 24.
TEST_F(KeyScannerTest, ATickIsTwoTransfersPerRow) {
    std::vector<KeyEvent> events;
    const int before = bed.Transfers();
    EXPECT_EQ(scanner.Scan(bed, 0, events), 8);
    EXPECT_EQ(bed.Transfers() - before, 16);
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

TEST_F(KeyScannerTest, ReleasingHeldKeysEndsSoundingKeysOnlyAndKeepsSingleReadings) {
    for (const int key : {3, 12, 40, 60}) {
        bed.Press(key);
    }
    std::vector<KeyEvent> events;
    scanner.Scan(bed, 0, events);
    bed.Press(20);  // one reading only
    scanner.Scan(bed, 0, events);
    ASSERT_EQ(events.size(), 3U);

    events.clear();
    scanner.ReleaseHeldKeys(events);
    EXPECT_EQ(events,
              (std::vector<KeyEvent>{{3, 0, 3, false}, {12, 1, 3, false}, {40, 4, 4, false}}));
    EXPECT_EQ(scanner.Counter(60), 0U) << "held keys above 48 are released without an event";
    EXPECT_EQ(scanner.Counter(20), 1U);
    events.clear();
    scanner.ReleaseHeldKeys(events);
    EXPECT_TRUE(events.empty()) << "nothing held any more";

    // Still closed when the scan resumes: the released keys press again after two readings,
    // key 20 at its second.
    scanner.Scan(bed, 0, events);
    EXPECT_EQ(events, (std::vector<KeyEvent>{{20, 2, 2, true}}));
    events.clear();
    scanner.Scan(bed, 0, events);
    EXPECT_EQ(events, (std::vector<KeyEvent>{{3, 0, 3, true}, {12, 1, 3, true}, {40, 4, 4, true}}));
}

// Requests the stop from inside the n-th row exchange, as Stop on another thread would.
class StoppingDevice : public platform::ch341::ICh341Device {
public:
    bool SetDeviceNotify(ULONG, NotifyRoutine) override { return true; }
    bool OpenDevice(ULONG) override { return true; }
    void CloseDevice(ULONG) override {}
    bool InitParallel(ULONG, ULONG) override { return true; }
    bool SetOutput(ULONG, ULONG, ULONG, ULONG) override { return Call(); }
    bool GetInput(ULONG, DWORD* word) override {
        *word = 0xFFFFFFFF;
        return Call();
    }
    bool SetOutputThenGetInput(ULONG, ULONG, ULONG, ULONG, DWORD* word) override {
        *word = 0xFFFFFFFF;
        return Call();
    }
    bool Call() {
        if (++calls == stopAt) {
            source.request_stop();
        }
        return true;
    }
    std::stop_source source;
    int calls = 0;
    int stopAt = 0;
};

TEST(KeyScannerStop, NoTransferStartsAfterTheStopRequest) {
    for (const int stopAt : {1, 2, 5, 8}) {
        StoppingDevice device;
        device.stopAt = stopAt;
        KeyScanner scanner;
        std::vector<KeyEvent> events;
        const int rows = scanner.Scan(device, 0, events, device.source.get_token());
        EXPECT_EQ(device.calls, stopAt);
        EXPECT_EQ(rows, stopAt);
    }
}

// A transport with one CH341 whose columns read what the matrix below drives, byte for byte
// as the chip replies to 0xA0: byte 0 = lines 0-7, byte 1 = lines 8-15.
class MatrixTransport final : public platform::ch341::IUsbTransport {
public:
    struct Matrix {
        std::uint32_t selected = 0xFFFFFFFF;  // data of the last 0xA1 command
        std::uint32_t closedRowLine = 0;      // the row line that the closed switch sits on
        std::array<std::uint8_t, 2> columnLow{0xFF, 0xFF};
    };

    explicit MatrixTransport(std::shared_ptr<Matrix> matrix) : matrix_(std::move(matrix)) {}

    std::vector<platform::ch341::UsbDeviceInfo> ListDevices() override {
        return {{1, 4, 0x1A86, 0x5512, true, 0xFF, 0x01, 0x02, ""}};
    }
    platform::ch341::Ch341Error Open(
        const platform::ch341::UsbDeviceInfo&,
        std::unique_ptr<platform::ch341::IUsbDeviceHandle>& handle) override {
        handle = std::make_unique<Handle>(matrix_);
        return platform::ch341::Ch341Error::None;
    }
    platform::ch341::Ch341Error StartHotplug(HotplugHandler) override {
        return platform::ch341::Ch341Error::Unsupported;
    }
    void StopHotplug() override {}

private:
    using Error = platform::ch341::Ch341Error;
    class Handle final : public platform::ch341::IUsbDeviceHandle {
    public:
        explicit Handle(std::shared_ptr<Matrix> matrix) : matrix_(std::move(matrix)) {}
        Error ControlOut(std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                         std::span<const std::uint8_t>, unsigned) override {
            return Error::None;
        }
        Error ControlIn(std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                        std::span<std::uint8_t> buffer, int& transferred, unsigned) override {
            buffer[0] = 0x30;
            buffer[1] = 0x00;
            transferred = 2;
            return Error::None;
        }
        Error BulkOut(std::uint8_t, std::span<const std::uint8_t> data, int& transferred,
                      unsigned) override {
            if (data[0] == 0xA1) {
                matrix_->selected = std::uint32_t{data[5]} | std::uint32_t{data[3]} << 8 |
                                    std::uint32_t{data[7] & 0x0FU} << 16;
            }
            transferred = static_cast<int>(data.size());
            return Error::None;
        }
        Error BulkIn(std::uint8_t, std::span<std::uint8_t> buffer, int& transferred,
                     unsigned) override {
            // The switch joins its column line to its row line only while that row is low.
            const bool rowLow = (matrix_->selected & matrix_->closedRowLine) == 0;
            const std::array<std::uint8_t, 6> reply{
                static_cast<std::uint8_t>(rowLow ? matrix_->columnLow[0] : 0xFF),
                static_cast<std::uint8_t>(rowLow ? matrix_->columnLow[1] : 0xFF),
                0x80,
                0,
                0,
                0};
            std::copy(reply.begin(), reply.end(), buffer.begin());
            transferred = static_cast<int>(reply.size());
            return Error::None;
        }

    private:
        std::shared_ptr<Matrix> matrix_;
    };

    std::shared_ptr<Matrix> matrix_;
};

// The key of each switch from the chip's raw reply, through the driver and the scan: the
// line of column c low while row r is selected is key 9 x row + column.
TEST(KeyScannerOverTheDriver, ColumnLineLowOnEachRowIsKeyNineTimesRowPlusColumn) {
    struct Column {
        int column;
        std::array<std::uint8_t, 2> low;  // reply bytes 0 and 1 with that column's line low
    };
    const Column columns[] = {
        {0, {0xEF, 0xFF}},  // line 4, D4
        {1, {0xDF, 0xFF}},  // line 5, D5
        {2, {0xBF, 0xFF}},  // line 6, D6
        {3, {0x7F, 0xFF}},  // line 7, D7
        {4, {0xFF, 0xFE}},  // line 8, ERR#
        {5, {0xFF, 0xFD}},  // line 9, PEMP
        {6, {0xFF, 0xFB}},  // line 10, INT#
        {7, {0xFF, 0xF7}},  // line 11, SLCT
        {8, {0xFF, 0xDF}},  // line 13, WAIT#
    };
    // The line each row drives low: lines 0-3 and 14-17.
    const std::uint32_t rowLines[] = {1U << 0,  1U << 1,  1U << 2,  1U << 3,
                                      1U << 14, 1U << 15, 1U << 16, 1U << 17};
    auto matrix = std::make_shared<MatrixTransport::Matrix>();
    platform::ch341::Ch341UsbDevice driver(std::make_unique<MatrixTransport>(matrix));
    ASSERT_TRUE(driver.OpenDevice(0));
    for (int row = 0; row < 8; ++row) {
        for (const Column& c : columns) {
            const int key = 9 * row + c.column;
            matrix->closedRowLine = rowLines[row];
            matrix->columnLow = c.low;
            KeyScanner scanner;
            std::vector<KeyEvent> events;
            ASSERT_EQ(scanner.Scan(driver, 0, events), 8);
            for (int k = 0; k < KeyScanner::kKeys; ++k) {
                EXPECT_EQ(scanner.Counter(k), k == key ? 1U : 0U)
                    << "row " << row << " column " << c.column << ": key " << k;
            }
            scanner.Scan(driver, 0, events);
            const std::vector<KeyEvent> pressed{{static_cast<BYTE>(key), static_cast<BYTE>(row),
                                                 static_cast<BYTE>(c.column), true}};
            EXPECT_EQ(events, key < 49 ? pressed : std::vector<KeyEvent>{})
                << "row " << row << " column " << c.column;
        }
    }
}

}  // namespace
}  // namespace device
