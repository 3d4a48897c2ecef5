#pragma once

#include <string_view>

namespace platform::ch341 {

// The one error vocabulary of the key-bed seam. The libusb realisation maps libusb's codes
// onto it in one place (LibusbTransport.cpp); the simulated key bed uses the same values.
enum class Ch341Error {
    None,
    NotFound,         // no CH341 at that index
    NotOpen,          // the index has no open device
    InvalidArgument,  // null word, mode out of range
    Access,           // no permission on the device node (udev rule missing)
    Busy,             // interface held by another program
    DriverBound,      // a kernel driver (a serial driver, say) holds interface 0
    NoDevice,         // the device vanished: counts as an unplug
    Timeout,
    Stall,          // endpoint halted
    ShortTransfer,  // fewer bytes moved than the command needs
    Overflow,       // the device sent more than the buffer holds
    Unsupported,    // no hot-plug support on this platform
    Io,             // any other transport failure
};

std::string_view ToString(Ch341Error error);

}  // namespace platform::ch341
