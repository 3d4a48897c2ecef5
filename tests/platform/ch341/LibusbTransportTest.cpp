#include "platform/ch341/LibusbTransport.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <vector>

namespace platform::ch341 {
namespace {

namespace fs = std::filesystem;

TEST(LibusbTransportSysfs, InterfaceNamesFollowThePortPath) {
    struct Case {
        std::uint8_t bus;
        std::vector<std::uint8_t> ports;
        std::uint8_t configuration;
        const char* name;
    };
    const std::vector<Case> cases{
        {1, {4}, 1, "1-4:1.0"},
        {3, {1, 4, 2}, 1, "3-1.4.2:1.0"},
        {12, {10}, 2, "12-10:2.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LibusbTransport::InterfaceName(c.bus, c.ports, c.configuration, 0), c.name);
    }
}

// A copy of the sysfs layout: the interface's "driver" link exists only while one is bound.
class BoundDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("ts-sysfs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(root / "bus/usb/drivers/ch341");
        fs::create_directories(root / "bus/usb/drivers/usbfs");
        fs::create_directories(root / "bus/usb/devices");
        for (const char* name : {"1-4:1.0", "1-5:1.0", "1-6:1.0"}) {
            fs::create_directories(root / "devices" / name);
            fs::create_directory_symlink(root / "devices" / name, devices() / name);
        }
        fs::create_directory_symlink("../../../../bus/usb/drivers/ch341",
                                     root / "devices/1-4:1.0/driver");
        fs::create_directory_symlink("../../../../bus/usb/drivers/usbfs",
                                     root / "devices/1-6:1.0/driver");
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path devices() const { return root / "bus/usb/devices"; }

    fs::path root;
};

TEST_F(BoundDriverTest, NamesTheBoundDriverAndTreatsUsbfsAndNoLinkAsNone) {
    EXPECT_EQ(LibusbTransport::BoundDriver(devices(), "1-4:1.0"), "ch341");
    EXPECT_EQ(LibusbTransport::BoundDriver(devices(), "1-5:1.0"), "");
    EXPECT_EQ(LibusbTransport::BoundDriver(devices(), "1-6:1.0"), "") << "libusb's own claim";
    EXPECT_EQ(LibusbTransport::BoundDriver(devices(), "9-9:1.0"), "") << "no such interface";
}

}  // namespace
}  // namespace platform::ch341
