#pragma once

#include <functional>

#include "platform/ch341/ICh341Device.h"

namespace device {

using platform::ch341::DWORD;
using platform::ch341::ULONG;

// Passes every call on to a key bed and hands each row read the scan makes (one
// SetOutputThenGetInput that selects a row) to an observer, with the word the chip returned,
// before the scan sees the word. Thread-safe as the device is; the observer runs on the
// caller's thread (the key-bed thread) and must only record.
class RawReadTap final : public platform::ch341::ICh341Device {
public:
    using Observer = std::function<void(int row, DWORD word)>;

    // `device` must outlive the tap.
    RawReadTap(platform::ch341::ICh341Device& device, Observer observer);

    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override;
    bool OpenDevice(ULONG index) override;
    void CloseDevice(ULONG index) override;
    bool InitParallel(ULONG index, ULONG mode) override;
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override;
    bool GetInput(ULONG index, DWORD* word) override;
    bool SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                               DWORD* word) override;

private:
    platform::ch341::ICh341Device& device_;
    Observer observer_;
};

}  // namespace device
