#include "platform/ch341/AccessAdvice.h"

#include <array>
#include <cstdio>

namespace platform::ch341 {

namespace {

constexpr unsigned kRuleVendor = 0x1A86;
constexpr unsigned kRuleProduct = 0x5512;

}  // namespace

std::string AccessAdvice(const UsbDeviceInfo& device) {
    std::array<char, 192> head{};
    std::snprintf(head.data(), head.size(),
                  "CH341 key bed %04x:%04x found, but this user may not open its device node "
                  "/dev/bus/usb/%03u/%03u. ",
                  unsigned{device.vendorId}, unsigned{device.productId}, unsigned{device.bus},
                  unsigned{device.address});
    std::string advice = head.data();
    advice +=
        "The udev rule 60-tunestead-keybed.rules gives access to the user at the desktop and to "
        "the group plugdev: the package installs it in /usr/lib/udev/rules.d; from a build run "
        "'sudo install -m 0644 packaging/60-tunestead-keybed.rules /etc/udev/rules.d/ && sudo "
        "udevadm control --reload-rules', then unplug and replug the key bed.";
    if (device.vendorId != kRuleVendor || device.productId != kRuleProduct) {
        std::array<char, 128> ids{};
        std::snprintf(ids.data(), ids.size(),
                      " The rule names 1a86:5512 only: add a copy of its line with %04x:%04x.",
                      unsigned{device.vendorId}, unsigned{device.productId});
        advice += ids.data();
    }
    return advice;
}

}  // namespace platform::ch341
