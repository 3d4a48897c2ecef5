#include "platform/ch341/Ch341UsbDevice.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>
#include <string>
#include <thread>

#include "FakeUsbTransport.h"

namespace platform::ch341::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const UsbDeviceInfo kKeyBed{1, 4, 0x1A86, 0x5512, true, 0xFF, 0x01, 0x02, ""};
const UsbDeviceInfo kMouse{1, 2, 0x046D, 0xC077, true, 0x03, 0x01, 0x02, "usbhid"};
// A CH341 whose EEPROM gave it other ids: recognised by its interface.
const UsbDeviceInfo kRebadged{2, 7, 0x1234, 0xABCD, true, 0xFF, 0x01, 0x02, ""};
// CH340/CH341 in serial mode: same interface triple, but it is a UART, not the bridge.
const UsbDeviceInfo kSerialAdapter{1, 9, 0x1A86, 0x7523, true, 0xFF, 0x01, 0x02, "ch341"};
// A serial adapter under ids no table lists, its serial driver bound.
const UsbDeviceInfo kOtherSerial{1, 11, 0x1A2B, 0x3C4D, true, 0xFF, 0x01, 0x02, "ch341"};

// Collects the lines written to the debug output while it lives.
class DebugLines {
public:
    // The debug category is off by default: it is switched on while lines are collected.
    DebugLines() {
        QLoggingCategory::setFilterRules(QStringLiteral("tunestead.debug=true"));
        previous_ = qInstallMessageHandler(&Collect);
    }
    ~DebugLines() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules({});
        Lines().clear();
    }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    bool Has(const std::string& part) const {
        for (const std::string& line : Lines()) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string All() const {
        std::string all;
        for (const std::string& line : Lines()) {
            all += line + "\n";
        }
        return all;
    }

private:
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static void Collect(QtMsgType, const QMessageLogContext&, const QString& text) {
        Lines().push_back(text.toStdString());
    }
    QtMessageHandler previous_ = nullptr;
};

class Ch341UsbDeviceTest : public ::testing::Test {
protected:
    Ch341UsbDeviceTest() {
        auto transport = std::make_unique<FakeUsbTransport>(state);
        fake = transport.get();
        fake->devices = {kMouse, kKeyBed};
        driver = std::make_unique<Ch341UsbDevice>(std::move(transport));
    }

    void Script(std::vector<Transfer> transfers) {
        std::lock_guard lock(state->mutex);
        state->script.insert(state->script.end(), transfers.begin(), transfers.end());
    }
    void ExpectScriptUsed() {
        std::lock_guard lock(state->mutex);
        EXPECT_TRUE(state->script.empty()) << state->script.size() << " transfers not made";
    }
    void RecordNotifications() {
        ASSERT_TRUE(driver->SetDeviceNotify(0, [this](ULONG code) { codes.push_back(code); }));
    }

    std::shared_ptr<FakeUsbTransport::State> state = std::make_shared<FakeUsbTransport::State>();
    FakeUsbTransport* fake = nullptr;
    std::unique_ptr<Ch341UsbDevice> driver;
    std::vector<ULONG> codes;
};

TEST(Ch341Match, RecognisesTheBridgeByIdsOrByInterface) {
    struct Case {
        UsbDeviceInfo device;
        bool match;
    };
    const UsbDeviceInfo noInterface{1, 3, 0x1234, 0xABCD, false, 0xFF, 0x01, 0x02, ""};
    const UsbDeviceInfo wrongProtocol{1, 3, 0x1234, 0xABCD, true, 0xFF, 0x01, 0x01, ""};
    const UsbDeviceInfo bridgeOddInterface{1, 3, 0x1A86, 0x5512, true, 0x00, 0x00, 0x00, ""};
    // WCH's older vendor id in serial mode, before its driver is bound (or with none loaded).
    const UsbDeviceInfo oldVendorSerial{1, 5, 0x4348, 0x5523, true, 0xFF, 0x01, 0x02, ""};
    const UsbDeviceInfo oldVendorSerialBound{1, 5, 0x4348, 0x5523, true, 0xFF, 0x01, 0x02, "ch341"};
    // The bridge's own ids with a kernel driver on it (a bus driver): left to that driver.
    const UsbDeviceInfo bridgeWithDriver{1, 6, 0x1A86, 0x5512, true, 0xFF, 0x01, 0x02, "ch34x_pis"};
    const UsbDeviceInfo rebadgedWithDriver{2, 8, 0x1234, 0xABCD, true, 0xFF, 0x01, 0x02, "ch341"};
    for (const Case& c :
         {Case{kKeyBed, true}, Case{kRebadged, true}, Case{bridgeOddInterface, true},
          Case{kMouse, false}, Case{noInterface, false}, Case{wrongProtocol, false},
          Case{kSerialAdapter, false}, Case{kOtherSerial, false}, Case{oldVendorSerial, false},
          Case{oldVendorSerialBound, false}, Case{bridgeWithDriver, false},
          Case{rebadgedWithDriver, false}}) {
        EXPECT_EQ(Ch341UsbDevice::IsCh341(c.device), c.match)
            << std::hex << c.device.vendorId << ":" << c.device.productId << " "
            << c.device.kernelDriver;
    }
}

TEST_F(Ch341UsbDeviceTest, OpensTheIndexthCh341AndSkipsOtherDevices) {
    fake->devices = {kMouse, kKeyBed, kSerialAdapter, kRebadged};
    EXPECT_EQ(driver->ListDevices(), (std::vector<UsbDeviceInfo>{kKeyBed, kRebadged}));
    ASSERT_TRUE(driver->OpenDevice(1));
    ASSERT_EQ(state->opened.size(), 1U);
    EXPECT_EQ(state->opened[0], kRebadged);

    EXPECT_FALSE(driver->OpenDevice(2));
    EXPECT_EQ(driver->LastError(), Ch341Error::NotFound);
}

TEST_F(Ch341UsbDeviceTest, DevicesWithAKernelDriverBoundAreSkippedWithALineNamingThem) {
    const DebugLines log;
    fake->devices = {kOtherSerial, kSerialAdapter, kKeyBed};
    EXPECT_EQ(driver->ListDevices(), (std::vector<UsbDeviceInfo>{kKeyBed}));
    ASSERT_TRUE(driver->OpenDevice(0));
    ASSERT_EQ(state->opened, (std::vector<UsbDeviceInfo>{kKeyBed}));
    EXPECT_TRUE(log.Has("bus 001 address 011 (1a2b:3c4d) skipped: kernel driver ch341"))
        << log.All();

    // Only the adapter in the bus: nothing to open, and nothing was claimed.
    fake->devices = {kOtherSerial};
    EXPECT_FALSE(driver->OpenDevice(0));
    EXPECT_EQ(driver->LastError(), Ch341Error::NotFound);
    EXPECT_EQ(state->opens, 1);
}

// A key bed present but not permitted: the log names the device node and the rule that fixes
// it, and for ids the rule does not list, the line to add.
TEST_F(Ch341UsbDeviceTest, NoPermissionNamesTheDeviceNodeAndTheRule) {
    struct Case {
        UsbDeviceInfo device;
        const char* node;
        bool needsOwnLine;
    };
    for (const Case& c : {Case{kKeyBed, "/dev/bus/usb/001/004", false},
                          Case{kRebadged, "/dev/bus/usb/002/007", true}}) {
        SCOPED_TRACE(c.node);
        DebugLines log;
        fake->devices = {c.device};
        fake->openResult = Ch341Error::Access;
        EXPECT_FALSE(driver->OpenDevice(0));
        EXPECT_EQ(driver->LastError(), Ch341Error::Access);
        EXPECT_TRUE(log.Has(std::string("may not open its device node ") + c.node)) << log.All();
        EXPECT_TRUE(log.Has("60-tunestead-keybed.rules")) << log.All();
        EXPECT_EQ(log.Has("add a copy of its line with 1234:abcd"), c.needsOwnLine) << log.All();
    }
}

TEST_F(Ch341UsbDeviceTest, ADriverBoundBetweenListingAndOpenFailsTheOpen) {
    const DebugLines log;
    fake->openResult = Ch341Error::DriverBound;
    EXPECT_FALSE(driver->OpenDevice(0));
    EXPECT_EQ(driver->LastError(), Ch341Error::DriverBound);
    EXPECT_TRUE(log.Has("bus 001 address 004 (1a86:5512) skipped")) << log.All();
    DWORD word = 0;
    EXPECT_FALSE(driver->GetInput(0, &word));
    EXPECT_EQ(driver->LastError(), Ch341Error::NotOpen);
}

TEST_F(Ch341UsbDeviceTest, OpenReadsAndLogsTheChipVersion) {
    struct Case {
        const char* name;
        Transfer reply;
        const char* logged;
    };
    const std::vector<Case> cases{
        {"CH341A", Transfer::ControlIn(0xC0, 0x5F, 0, 0, {0x30, 0x00}),
         "(1a86:5512) opened, chip version 0x0030"},
        {"little-endian", Transfer::ControlIn(0xC0, 0x5F, 0, 0, {0x20, 0x01}),
         "chip version 0x0120"},
        {"older chip", Transfer::ControlIn(0xC0, 0x5F, 0, 0, {0x10, 0x00}),
         "chip version 0x0010 (older than the CH341A"},
        {"no answer", Transfer::ControlIn(0xC0, 0x5F, 0, 0, {}, Ch341Error::Timeout),
         "chip version unknown (timeout)"},
        {"short answer", Transfer::ControlIn(0xC0, 0x5F, 0, 0, {0x30}),
         "chip version unknown (short transfer)"},
    };
    for (const Case& c : cases) {
        const DebugLines log;
        Script({c.reply});
        EXPECT_TRUE(driver->OpenDevice(0)) << c.name << ": a version is only logged";
        EXPECT_TRUE(log.Has(c.logged)) << c.name << "\n" << log.All();
        ExpectScriptUsed();
    }
    // A device that vanishes while answering is not open.
    Script({Transfer::ControlIn(0xC0, 0x5F, 0, 0, {}, Ch341Error::NoDevice)});
    EXPECT_FALSE(driver->OpenDevice(0));
    EXPECT_EQ(driver->LastError(), Ch341Error::NoDevice);
}

TEST_F(Ch341UsbDeviceTest, OpenFailureIsReportedAndLeavesNothingOpen) {
    fake->openResult = Ch341Error::Access;
    EXPECT_FALSE(driver->OpenDevice(0));
    EXPECT_EQ(driver->LastError(), Ch341Error::Access);
    DWORD word = 0;
    EXPECT_FALSE(driver->GetInput(0, &word));
    EXPECT_EQ(driver->LastError(), Ch341Error::NotOpen);
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
}

TEST_F(Ch341UsbDeviceTest, ReopeningAnOpenIndexReplacesTheHandle) {
    ASSERT_TRUE(driver->OpenDevice(0));
    ASSERT_TRUE(driver->OpenDevice(0));
    EXPECT_EQ(state->opens, 2);
    EXPECT_EQ(state->closes, 1);
    driver->CloseDevice(0);
    EXPECT_EQ(state->closes, 2);
}

TEST_F(Ch341UsbDeviceTest, InitParallelIsOneVendorControlRequestWithoutData) {
    ASSERT_TRUE(driver->OpenDevice(0));
    Script({Transfer::Control(0x40, 0xB1, 0x0202, 0), Transfer::Control(0x40, 0xB1, 0x0102, 0),
            Transfer::Control(0x40, 0xB1, 0x0202, 0, Ch341Error::Stall)});
    EXPECT_TRUE(driver->InitParallel(0, 2));
    EXPECT_TRUE(driver->InitParallel(0, 1));
    EXPECT_FALSE(driver->InitParallel(0, 2));
    EXPECT_EQ(driver->LastError(), Ch341Error::Stall);
    EXPECT_FALSE(driver->InitParallel(0, 0x100));
    EXPECT_EQ(driver->LastError(), Ch341Error::InvalidArgument);
    ExpectScriptUsed();
}

// The eight row selections of one scan tick: enable 0xFF, direction 0xFC00F, data = NOT mask.
struct RowSelection {
    ULONG mask;
    Bytes packet;
};
const std::vector<RowSelection> kRows{
    {0x1, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xFE, 0x0F, 0x0F, 0, 0, 0}},
    {0x2, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xFD, 0x0F, 0x0F, 0, 0, 0}},
    {0x4, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xFB, 0x0F, 0x0F, 0, 0, 0}},
    {0x8, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xF7, 0x0F, 0x0F, 0, 0, 0}},
    {0x4000, {0xA1, 0x6A, 0x1F, 0xAF, 0xD0, 0xFF, 0x0F, 0x0F, 0, 0, 0}},
    {0x8000, {0xA1, 0x6A, 0x1F, 0x6F, 0xD0, 0xFF, 0x0F, 0x0F, 0, 0, 0}},
    {0x10000, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xFF, 0x0F, 0x0E, 0, 0, 0}},
    {0x20000, {0xA1, 0x6A, 0x1F, 0xEF, 0xD0, 0xFF, 0x0F, 0x0D, 0, 0, 0}},
};
const Bytes kRow0 = kRows[0].packet;

TEST_F(Ch341UsbDeviceTest, SetOutputSendsTheElevenBytePacketForEachRow) {
    ASSERT_TRUE(driver->OpenDevice(0));
    for (const RowSelection& row : kRows) {
        Script({Transfer::Out(0x02, row.packet)});
        EXPECT_TRUE(driver->SetOutput(0, 0xFF, 0xFC00F, ~row.mask)) << std::hex << row.mask;
    }
    ExpectScriptUsed();
}

// The row's 11-byte packet zero-filled to the 32-byte packet boundary, then 0xA0 as the next
// packet of the same transfer.
Bytes Batch(const Bytes& setOutput) {
    Bytes batch = setOutput;
    batch.resize(32, 0x00);
    batch.push_back(0xA0);
    return batch;
}

// The scan's exchange per row: both commands in one bulk transfer, then one read.
TEST_F(Ch341UsbDeviceTest, SetOutputThenGetInputSendsBothCommandPacketsInOneTransfer) {
    ASSERT_TRUE(driver->OpenDevice(0));
    for (const RowSelection& row : kRows) {
        // Columns 0 and 8 (lines 4 and 13) low; bit 12 and byte 2 bits 0-6 dropped.
        Script({Transfer::Out(0x02, Batch(row.packet)),
                Transfer::In(0x82, {0xEF, 0xDF, 0xFF, 0x08, 0x13, 0x00})});
        DWORD word = 0;
        EXPECT_TRUE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~row.mask, &word))
            << std::hex << row.mask;
        EXPECT_EQ(word, 0x0080CFEFU) << std::hex << row.mask;
    }
    ExpectScriptUsed();
    for (const std::size_t size : state->inBufferSizes) {
        EXPECT_EQ(size, 32U);
    }
}

TEST_F(Ch341UsbDeviceTest, SetOutputMasksBitTwelveAndForcesItsDirectionBit) {
    ASSERT_TRUE(driver->OpenDevice(0));
    // All ones: bit 12 cleared in the data byte, forced to 1 in the direction byte, only
    // lines 16-19 of the upper word sent. Then enable bits above 4 dropped, and a direction
    // word of bit 12 alone still sends 0x10.
    Script({Transfer::Out(0x02, {0xA1, 0x6A, 0x1F, 0xEF, 0xFF, 0xFF, 0xFF, 0x0F, 0, 0, 0}),
            Transfer::Out(0x02, {0xA1, 0x6A, 0x04, 0x00, 0x10, 0x5A, 0x00, 0x00, 0, 0, 0})});
    EXPECT_TRUE(driver->SetOutput(0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF));
    EXPECT_TRUE(driver->SetOutput(0, 0x24, 0x00001000, 0x0000105A));
    ExpectScriptUsed();
}

TEST_F(Ch341UsbDeviceTest, GetInputMapsTheReplyToTheWord) {
    struct Case {
        Bytes reply;
        DWORD word;
    };
    const std::vector<Case> cases{
        {{0xFF, 0xFF, 0xFF, 0x08, 0x13, 0x00}, 0x0080EFFF},  // bit 12 and byte 2 bits 0-6 dropped
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x00000000},
        {{0xA5, 0x20, 0x7F, 0xFF, 0xFF, 0xFF}, 0x000020A5},  // column 8 (bit 13) high
        {{0x0F, 0x10, 0x80, 0x00, 0x00, 0x00}, 0x0080000F},  // bit 12 alone reads 0
        {{0xFF, 0xCC, 0x6F, 0x08, 0x13, 0x00}, 0x0000CCFF},
    };
    ASSERT_TRUE(driver->OpenDevice(0));
    for (const Case& c : cases) {
        Script({Transfer::Out(0x02, {0xA0}), Transfer::In(0x82, c.reply)});
        DWORD word = 0x12345678;
        EXPECT_TRUE(driver->GetInput(0, &word));
        EXPECT_EQ(word, c.word) << std::hex << word;
    }
    ExpectScriptUsed();
    for (const std::size_t size : state->inBufferSizes) {
        EXPECT_EQ(size, 32U);
    }
}

// Injected failures: each leaves a defined word, reports failure, and stops the exchange.
TEST_F(Ch341UsbDeviceTest, FailedExchangesReturnFailureAndADefinedWord) {
    struct Case {
        const char* name;
        std::vector<Transfer> script;
        Ch341Error error;
    };
    const std::vector<Case> cases{
        {"short reply",
         {Transfer::Out(0x02, {0xA0}), Transfer::In(0x82, {0x00, 0x00, 0x00, 0, 0})},
         Ch341Error::ShortTransfer},
        {"empty reply",
         {Transfer::Out(0x02, {0xA0}), Transfer::In(0x82, {})},
         Ch341Error::ShortTransfer},
        {"reply timeout",
         {Transfer::Out(0x02, {0xA0}), Transfer::In(0x82, {}, Ch341Error::Timeout)},
         Ch341Error::Timeout},
        {"command stalls", {Transfer::Out(0x02, {0xA0}, Ch341Error::Stall)}, Ch341Error::Stall},
        {"command not taken",
         {Transfer::Out(0x02, {0xA0}, Ch341Error::None, 0)},
         Ch341Error::ShortTransfer},
    };
    RecordNotifications();
    ASSERT_TRUE(driver->OpenDevice(0));
    for (const Case& c : cases) {
        Script(c.script);
        DWORD word = 0;
        EXPECT_FALSE(driver->GetInput(0, &word)) << c.name;
        EXPECT_EQ(word, CH341_INPUT_UNKNOWN) << c.name;
        EXPECT_EQ(driver->LastError(), c.error) << c.name;
        ExpectScriptUsed();
    }
    EXPECT_FALSE(driver->GetInput(0, nullptr));

    Script({Transfer::Out(0x02, kRow0, Ch341Error::None, 8)});
    EXPECT_FALSE(driver->SetOutput(0, 0xFF, 0xFC00F, ~0x1U));
    EXPECT_EQ(driver->LastError(), Ch341Error::ShortTransfer);
    ExpectScriptUsed();
    EXPECT_TRUE(codes.empty()) << "none of these failures is an unplug";
}

// The same failures injected into the scan's batched exchange: whichever transfer fails, the
// row reads as unknown, never as the bytes of a half-done exchange.
TEST_F(Ch341UsbDeviceTest, FailedBatchedExchangesReturnFailureAndADefinedWord) {
    struct Case {
        const char* name;
        std::vector<Transfer> script;
        Ch341Error error;
    };
    const Bytes batch = Batch(kRow0);
    const std::vector<Case> cases{
        {"short reply",
         {Transfer::Out(0x02, batch), Transfer::In(0x82, {0x00, 0x00, 0x80, 0, 0})},
         Ch341Error::ShortTransfer},
        {"empty reply",
         {Transfer::Out(0x02, batch), Transfer::In(0x82, {})},
         Ch341Error::ShortTransfer},
        {"reply timeout",
         {Transfer::Out(0x02, batch), Transfer::In(0x82, {}, Ch341Error::Timeout)},
         Ch341Error::Timeout},
        {"commands stall", {Transfer::Out(0x02, batch, Ch341Error::Stall)}, Ch341Error::Stall},
        {"status packet not taken",
         {Transfer::Out(0x02, batch, Ch341Error::None, 32)},
         Ch341Error::ShortTransfer},
        {"commands time out",
         {Transfer::Out(0x02, batch, Ch341Error::Timeout)},
         Ch341Error::Timeout},
    };
    RecordNotifications();
    ASSERT_TRUE(driver->OpenDevice(0));
    for (const Case& c : cases) {
        Script(c.script);
        DWORD word = 0;
        EXPECT_FALSE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~0x1U, &word)) << c.name;
        EXPECT_EQ(word, CH341_INPUT_UNKNOWN) << c.name;
        EXPECT_EQ(driver->LastError(), c.error) << c.name;
        ExpectScriptUsed();
    }
    EXPECT_FALSE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~0x1U, nullptr));
    EXPECT_EQ(driver->LastError(), Ch341Error::InvalidArgument);
    EXPECT_TRUE(codes.empty()) << "none of these failures is an unplug";
}

TEST_F(Ch341UsbDeviceTest, CallsOnAClosedIndexMakeNoTransfer) {
    DWORD word = 0;
    EXPECT_FALSE(driver->SetOutput(0, 0xFF, 0xFC00F, ~0x1U));
    EXPECT_FALSE(driver->InitParallel(0, 2));
    EXPECT_FALSE(driver->GetInput(0, &word));
    EXPECT_EQ(driver->LastError(), Ch341Error::NotOpen);
    ASSERT_TRUE(driver->OpenDevice(0));
    driver->CloseDevice(0);
    EXPECT_FALSE(driver->GetInput(0, &word));
}

TEST_F(Ch341UsbDeviceTest, HotplugReportsArrivalAndRemovalOfCh341sOnly) {
    RecordNotifications();
    ASSERT_TRUE(fake->handler);
    fake->Fire(HotplugEvent::Arrived, kKeyBed);
    fake->Fire(HotplugEvent::Arrived, kMouse);
    fake->Fire(HotplugEvent::Left, kMouse);
    fake->Fire(HotplugEvent::Left, kKeyBed);
    fake->Fire(HotplugEvent::Arrived, kRebadged);
    EXPECT_EQ(codes, (std::vector<ULONG>{3, 0, 3}));
    EXPECT_EQ(state->opens, 0) << "the hot-plug path must not open or transfer";

    ASSERT_TRUE(driver->SetDeviceNotify(0, nullptr));
    EXPECT_EQ(state->hotplugStops, 1);
    fake->Fire(HotplugEvent::Left, kKeyBed);
    EXPECT_EQ(codes.size(), 3U);
}

TEST_F(Ch341UsbDeviceTest, SerialAdaptersComingAndGoingLeaveTheOpenKeyBedAlone) {
    RecordNotifications();
    fake->devices = {kKeyBed, kOtherSerial};
    ASSERT_TRUE(driver->OpenDevice(0));
    fake->Fire(HotplugEvent::Arrived, kOtherSerial);
    // At removal the adapter's driver is gone with it: its descriptors still look like a bridge.
    UsbDeviceInfo leaving = kOtherSerial;
    leaving.kernelDriver.clear();
    fake->Fire(HotplugEvent::Left, leaving);
    EXPECT_TRUE(codes.empty());
    fake->Fire(HotplugEvent::Left, kKeyBed);
    EXPECT_EQ(codes, (std::vector<ULONG>{0}));
}

TEST_F(Ch341UsbDeviceTest, NotificationFailsWhenHotplugIsUnsupported) {
    fake->hotplugResult = Ch341Error::Unsupported;
    EXPECT_FALSE(driver->SetDeviceNotify(0, [](ULONG) {}));
}

TEST_F(Ch341UsbDeviceTest, DeviceVanishingMidScanIsOneRemoval) {
    RecordNotifications();
    ASSERT_TRUE(driver->OpenDevice(0));
    Script({Transfer::Out(0x02, Batch(kRow0)), Transfer::In(0x82, {}, Ch341Error::NoDevice)});
    DWORD word = 0;
    EXPECT_FALSE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~0x1U, &word));
    EXPECT_EQ(word, CH341_INPUT_UNKNOWN);
    EXPECT_EQ(driver->LastError(), Ch341Error::NoDevice);
    EXPECT_EQ(state->closes, 1) << "the dead handle is closed at once";
    // The rest of the tick finds the index closed: no transfer, no second report.
    EXPECT_FALSE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~0x2U, &word));
    EXPECT_FALSE(driver->SetOutput(0, 0xFF, 0xFC00F, ~0x2U));
    EXPECT_FALSE(driver->GetInput(0, &word));
    fake->Fire(HotplugEvent::Left, kKeyBed);
    EXPECT_EQ(codes, (std::vector<ULONG>{0}));

    fake->Fire(HotplugEvent::Arrived, kKeyBed);
    ASSERT_TRUE(driver->OpenDevice(0));
    Script({Transfer::Control(0x40, 0xB1, 0x0202, 0, Ch341Error::NoDevice)});
    EXPECT_FALSE(driver->InitParallel(0, 2));
    EXPECT_EQ(codes, (std::vector<ULONG>{0, 3, 0}));
    ExpectScriptUsed();
}

TEST_F(Ch341UsbDeviceTest, RemovalSeenByHotplugFirstIsNotReportedAgainByTheScan) {
    RecordNotifications();
    ASSERT_TRUE(driver->OpenDevice(0));
    fake->Fire(HotplugEvent::Left, kKeyBed);
    Script({Transfer::Out(0x02, {0xA0}, Ch341Error::NoDevice)});
    DWORD word = 0;
    EXPECT_FALSE(driver->GetInput(0, &word));
    EXPECT_EQ(codes, (std::vector<ULONG>{0}));
}

TEST_F(Ch341UsbDeviceTest, ScanAndGuiThreadsNeverOverlapTransfers) {
    state->autoAnswer = true;
    ASSERT_TRUE(driver->OpenDevice(0));
    std::thread scan([this] {
        for (int i = 0; i < 200; ++i) {
            DWORD word = 0;
            driver->SetOutput(0, 0xFF, 0xFC00F, ~0x1U);
            EXPECT_TRUE(driver->GetInput(0, &word));
            EXPECT_EQ(word, 0x0080EFFFU);
            word = 0;
            EXPECT_TRUE(driver->SetOutputThenGetInput(0, 0xFF, 0xFC00F, ~0x2U, &word));
            EXPECT_EQ(word, 0x0080EFFFU);
        }
    });
    for (int i = 0; i < 200; ++i) {
        driver->InitParallel(0, 2);
    }
    scan.join();
    EXPECT_FALSE(state->overlapped);
}

}  // namespace
}  // namespace platform::ch341::test
