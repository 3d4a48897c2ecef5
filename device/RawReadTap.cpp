#include "device/RawReadTap.h"

#include <utility>

#include "device/KeyScanner.h"

namespace device {

RawReadTap::RawReadTap(platform::ch341::ICh341Device& device, Observer observer)
    : device_(device), observer_(std::move(observer)) {}

bool RawReadTap::SetDeviceNotify(ULONG index, NotifyRoutine routine) {
    return device_.SetDeviceNotify(index, std::move(routine));
}

bool RawReadTap::OpenDevice(ULONG index) {
    return device_.OpenDevice(index);
}

void RawReadTap::CloseDevice(ULONG index) {
    device_.CloseDevice(index);
}

bool RawReadTap::InitParallel(ULONG index, ULONG mode) {
    return device_.InitParallel(index, mode);
}

bool RawReadTap::SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) {
    return device_.SetOutput(index, enable, direction, data);
}

bool RawReadTap::GetInput(ULONG index, DWORD* word) {
    return device_.GetInput(index, word);
}

bool RawReadTap::SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                                       DWORD* word) {
    const bool ok = device_.SetOutputThenGetInput(index, enable, direction, data, word);
    if (!ok || word == nullptr || !observer_) {
        return ok;
    }
    // The row the data selects: the one row line driven low.
    for (int row = 0; row < KeyScanner::kRows; ++row) {
        if ((data & KeyScanner::kRowMasks[static_cast<std::size_t>(row)]) == 0) {
            observer_(row, *word);
            break;
        }
    }
    return ok;
}

}  // namespace device
