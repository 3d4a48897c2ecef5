#pragma once

#include <string>

#include "platform/ch341/IUsbTransport.h"

namespace platform::ch341 {

// What to do when a key bed is present but its device node may not be opened, in words: the
// node, the udev rule that gives access and how to load it. One paragraph, no trailing newline.
std::string AccessAdvice(const UsbDeviceInfo& device);

}  // namespace platform::ch341
