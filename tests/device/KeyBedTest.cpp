#include "device/KeyBed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace device {
namespace {

using platform::ch341::ICh341Device;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::Truly;

class MockDevice : public ICh341Device {
public:
    MOCK_METHOD(bool, SetDeviceNotify, (ULONG, NotifyRoutine), (override));
    MOCK_METHOD(bool, OpenDevice, (ULONG), (override));
    MOCK_METHOD(void, CloseDevice, (ULONG), (override));
    MOCK_METHOD(bool, InitParallel, (ULONG, ULONG), (override));
    MOCK_METHOD(bool, SetOutput, (ULONG, ULONG, ULONG, ULONG), (override));
    MOCK_METHOD(bool, GetInput, (ULONG, DWORD*), (override));
};

class RecordingView : public IKeyBedView {
public:
    void SetWindowTitle(std::string_view title) override { seen.push_back(std::string(title)); }
    void ShowErrorBox(std::string_view text, std::string_view caption) override {
        seen.push_back("box " + std::string(text) + " | " + std::string(caption));
    }
    std::vector<std::string> seen;
};

const auto IsSet = Truly([](const ICh341Device::NotifyRoutine& r) { return bool(r); });
const auto IsEmpty = Truly([](const ICh341Device::NotifyRoutine& r) { return !r; });
const std::string kWorking(KeyBed::kTitleWorking);
const std::string kNoDevice(KeyBed::kTitleNoDevice);
const std::string kBox = "box 打开设备失败! | 键乐坊 -- 岚桥科技";

// The scan period is an hour so the scan thread never touches the strict mock; these tests
// are about the device state, the titles and the call order.
class KeyBedTest : public ::testing::Test {
protected:
    KeyBed& Make() {
        bed = std::make_unique<KeyBed>(
            device, view, [this](ULONG code) { posted.push_back(code); },
            [](std::span<const KeyEvent>) {}, std::chrono::hours(1));
        return *bed;
    }
    void StartWith(bool present) {
        EXPECT_CALL(device, SetDeviceNotify(0, IsSet))
            .WillOnce(DoAll(SaveArg<1>(&routine), Return(true)));
        EXPECT_CALL(device, OpenDevice(0)).WillOnce(Return(present));
        if (present) {
            EXPECT_CALL(device, InitParallel(0, 2)).WillOnce(Return(true));
        }
        Make().Start();
        ::testing::Mock::VerifyAndClearExpectations(&device);
    }
    void ExpectDestroy() {
        InSequence order;
        EXPECT_CALL(device, SetDeviceNotify(0, IsEmpty)).WillOnce(Return(true));
        EXPECT_CALL(device, CloseDevice(0));
    }

    ::testing::StrictMock<MockDevice> device;
    RecordingView view;
    std::vector<ULONG> posted;
    ICh341Device::NotifyRoutine routine;
    std::unique_ptr<KeyBed> bed;
};

TEST_F(KeyBedTest, StartRegistersBeforeOpeningThenSetsTitleAndParallelMode) {
    {
        InSequence order;
        EXPECT_CALL(device, SetDeviceNotify(0, IsSet)).WillOnce(Return(true));
        EXPECT_CALL(device, OpenDevice(0)).WillOnce(Return(true));
        EXPECT_CALL(device, InitParallel(0, 2)).WillOnce(Return(true));
    }
    Make().Start();
    EXPECT_TRUE(bed->IsDeviceOpen());
    EXPECT_TRUE(bed->IsScanning());
    EXPECT_EQ(bed->DeviceIndex(), 0U);
    EXPECT_EQ(view.seen, (std::vector<std::string>{kWorking}));
    ExpectDestroy();
}

TEST_F(KeyBedTest, StartWithoutDeviceShowsNoDeviceAndNoBox) {
    StartWith(false);
    EXPECT_FALSE(bed->IsDeviceOpen());
    EXPECT_FALSE(bed->IsScanning());
    EXPECT_EQ(view.seen, (std::vector<std::string>{kNoDevice}));
    ExpectDestroy();
}

TEST_F(KeyBedTest, NotificationOnlyPostsTheCode) {
    StartWith(false);
    ASSERT_TRUE(routine);
    std::thread driverThread([this] { routine(3); });
    driverThread.join();
    EXPECT_EQ(posted, (std::vector<ULONG>{3}));
    EXPECT_FALSE(bed->IsDeviceOpen()) << "state changes only when the GUI handles the post";
    ExpectDestroy();
}

TEST_F(KeyBedTest, DeviceEvents) {
    struct Case {
        const char* name;
        bool openBefore;
        ULONG code;
        int openResult;  // -1: no open expected
        bool closeExpected;
        bool initExpected;
        bool openAfter;
        std::vector<std::string> seen;
    };
    const std::vector<Case> cases{
        {"plug opens", false, 3, 1, false, true, true, {kWorking}},
        {"plug whose open fails shows the box",
         false,
         3,
         0,
         false,
         false,
         false,
         {kNoDevice, kBox}},
        {"plug while open reopens", true, 3, 1, false, true, true, {kWorking}},
        {"unplug closes", true, 0, -1, true, false, false, {kNoDevice}},
        {"unplug while closed closes again", false, 0, -1, true, false, false, {kNoDevice}},
        {"another code while open sets title and mode again",
         true,
         65,
         -1,
         false,
         true,
         true,
         {kWorking}},
        {"another code while closed only sets the title",
         false,
         1,
         -1,
         false,
         false,
         false,
         {kNoDevice}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartWith(c.openBefore);
        view.seen.clear();
        {
            InSequence order;
            if (c.openResult >= 0) {
                EXPECT_CALL(device, OpenDevice(0)).WillOnce(Return(c.openResult == 1));
            }
            if (c.closeExpected) {
                EXPECT_CALL(device, CloseDevice(0));
            }
            if (c.initExpected) {
                EXPECT_CALL(device, InitParallel(0, 2)).WillOnce(Return(true));
            }
        }
        bed->OnDeviceEvent(c.code);
        EXPECT_EQ(bed->IsDeviceOpen(), c.openAfter);
        EXPECT_EQ(bed->IsScanning(), c.openAfter);
        EXPECT_EQ(view.seen, c.seen);
        ::testing::Mock::VerifyAndClearExpectations(&device);
        ExpectDestroy();
        bed.reset();
        ::testing::Mock::VerifyAndClearExpectations(&device);
    }
}

TEST_F(KeyBedTest, DestroyUnregistersThenClosesOnce) {
    StartWith(true);
    ExpectDestroy();
    bed->Destroy();
    EXPECT_FALSE(bed->IsDeviceOpen());
    EXPECT_FALSE(bed->IsScanning());
    ::testing::Mock::VerifyAndClearExpectations(&device);
    bed.reset();  // already destroyed: no second unregister or close
}

TEST_F(KeyBedTest, CloseDeviceReturnsOneAndClosesEvenWhenNotOpen) {
    StartWith(false);
    EXPECT_CALL(device, CloseDevice(0));
    EXPECT_EQ(bed->CloseDevice(), 1);
    ::testing::Mock::VerifyAndClearExpectations(&device);
    ExpectDestroy();
}

}  // namespace
}  // namespace device
