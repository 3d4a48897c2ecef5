#include "platform/ch341/SimulatedKeyBed.h"

#include <thread>

namespace platform::ch341 {

namespace {

constexpr DWORD Bit(int line) {
    return DWORD{1} << line;
}

}  // namespace

SimulatedKeyBed::SimulatedKeyBed(bool present, std::chrono::microseconds transferTime)
    : present_(present), transferTime_(transferTime) {}

void SimulatedKeyBed::Spend(int transfers) const {
    if (transfers > 0 && transferTime_ > std::chrono::microseconds::zero()) {
        std::this_thread::sleep_for(transfers * transferTime_);
    }
}

int SimulatedKeyBed::Transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

void SimulatedKeyBed::Press(int key) {
    SetSwitch(key / kColumns, key % kColumns, true);
}

void SimulatedKeyBed::Release(int key) {
    SetSwitch(key / kColumns, key % kColumns, false);
}

void SimulatedKeyBed::SetSwitch(int row, int column, bool closed) {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) {
        return;
    }
    std::lock_guard lock(mutex_);
    closed_[static_cast<std::size_t>(row * kColumns + column)] = closed;
}

bool SimulatedKeyBed::IsClosed(int key) const {
    std::lock_guard lock(mutex_);
    return key >= 0 && key < kKeys && closed_[static_cast<std::size_t>(key)];
}

void SimulatedKeyBed::Plug() {
    {
        std::lock_guard lock(mutex_);
        present_ = true;
    }
    Notify(CH341_DEVICE_ARRIVAL);
}

void SimulatedKeyBed::Unplug() {
    {
        std::lock_guard lock(mutex_);
        present_ = false;
        open_ = false;
        direction_ = kDefaultDirection;
        data_ = 0xFFFFFFFF;
        mode_ = 0;
    }
    Notify(CH341_DEVICE_REMOVE);
}

void SimulatedKeyBed::Notify(ULONG code) {
    std::lock_guard lock(notifyMutex_);
    if (notify_) {
        notify_(code);
    }
}

bool SimulatedKeyBed::IsPresent() const {
    std::lock_guard lock(mutex_);
    return present_;
}

bool SimulatedKeyBed::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void SimulatedKeyBed::SetOpenFails(bool fails) {
    std::lock_guard lock(mutex_);
    openFails_ = fails;
}

void SimulatedKeyBed::FailReads(int count) {
    std::lock_guard lock(mutex_);
    failReads_ = count;
}

DWORD SimulatedKeyBed::LineLevelsLocked() const {
    // Outputs read back what they drive; inputs float high on their pull-ups.
    DWORD levels = (data_ & direction_) | ~direction_;
    for (int row = 0; row < kRows; ++row) {
        const DWORD rowBit = Bit(kRowLines[static_cast<std::size_t>(row)]);
        const bool drivenLow = (direction_ & rowBit) != 0 && (data_ & rowBit) == 0;
        if (!drivenLow) {
            continue;
        }
        for (int column = 0; column < kColumns; ++column) {
            const DWORD columnBit = Bit(kColumnLines[static_cast<std::size_t>(column)]);
            if (closed_[static_cast<std::size_t>(row * kColumns + column)] &&
                (direction_ & columnBit) == 0) {
                levels &= ~columnBit;
            }
        }
    }
    return levels & kReadableLines;
}

DWORD SimulatedKeyBed::LineLevels() const {
    std::lock_guard lock(mutex_);
    return LineLevelsLocked();
}

DWORD SimulatedKeyBed::Direction() const {
    std::lock_guard lock(mutex_);
    return direction_;
}

DWORD SimulatedKeyBed::Data() const {
    std::lock_guard lock(mutex_);
    return data_;
}

ULONG SimulatedKeyBed::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

int SimulatedKeyBed::SetOutputCalls() const {
    std::lock_guard lock(mutex_);
    return setOutputCalls_;
}

int SimulatedKeyBed::GetInputCalls() const {
    std::lock_guard lock(mutex_);
    return getInputCalls_;
}

Ch341Error SimulatedKeyBed::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

bool SimulatedKeyBed::SetDeviceNotify(ULONG /*index*/, NotifyRoutine routine) {
    std::lock_guard lock(notifyMutex_);
    notify_ = std::move(routine);
    return true;
}

bool SimulatedKeyBed::OpenDevice(ULONG index) {
    std::lock_guard lock(mutex_);
    if (index != 0 || !present_) {
        lastError_ = Ch341Error::NotFound;
        return false;
    }
    if (openFails_) {
        lastError_ = Ch341Error::Access;
        return false;
    }
    open_ = true;
    lastError_ = Ch341Error::None;
    return true;
}

void SimulatedKeyBed::CloseDevice(ULONG index) {
    std::lock_guard lock(mutex_);
    if (index == 0) {
        open_ = false;
    }
}

bool SimulatedKeyBed::UsableLocked(ULONG index) {
    lastError_ = index != 0 || !open_ ? Ch341Error::NotOpen : Ch341Error::None;
    return lastError_ == Ch341Error::None;
}

// Each call below takes effect at once and then spends its transfers holding only the bus:
// the matrix stays free, so a switch may close while a transfer is on the way, as on the chip.

bool SimulatedKeyBed::InitParallel(ULONG index, ULONG mode) {
    const std::lock_guard bus(busMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!UsableLocked(index)) {
            return false;
        }
        mode_ = mode;
        direction_ = kDefaultDirection;
        ++transfers_;
    }
    Spend(1);
    return true;
}

bool SimulatedKeyBed::SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) {
    const std::lock_guard bus(busMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!SetOutputLocked(index, enable, direction, data)) {
            return false;
        }
        ++transfers_;
    }
    Spend(1);
    return true;
}

bool SimulatedKeyBed::GetInput(ULONG index, DWORD* word) {
    const std::lock_guard bus(busMutex_);
    bool ok = false;
    int transfers = 0;
    {
        std::lock_guard lock(mutex_);
        ok = GetInputLocked(index, word);
        // The command, then the reply; an injected failure still went out on the bus.
        transfers = ok || lastError_ == Ch341Error::Timeout ? 2 : 0;
        transfers_ += transfers;
    }
    Spend(transfers);
    return ok;
}

bool SimulatedKeyBed::SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                                            DWORD* word) {
    const std::lock_guard bus(busMutex_);
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        if (word == nullptr) {
            ++getInputCalls_;
            lastError_ = Ch341Error::InvalidArgument;
            return false;
        }
        if (!SetOutputLocked(index, enable, direction, data)) {
            *word = CH341_INPUT_UNKNOWN;
            return false;
        }
        ok = GetInputLocked(index, word);
        transfers_ += 2;  // the commands together, then the reply
    }
    Spend(2);
    return ok;
}

bool SimulatedKeyBed::SetOutputLocked(ULONG index, ULONG enable, ULONG direction, ULONG data) {
    ++setOutputCalls_;
    if (!UsableLocked(index)) {
        return false;
    }
    // Each enable bit applies one part of the words, as the chip's 0xA1 command does.
    // Bit 12 is no line; lines 16-19 are outputs whatever the direction word says.
    const auto apply = [](DWORD& target, DWORD source, DWORD mask) {
        target = (target & ~mask) | (source & mask);
    };
    if ((enable & 0x01) != 0) {
        apply(data_, data, 0x0000EF00);
    }
    if ((enable & 0x02) != 0) {
        apply(direction_, direction, 0x0000EF00);
    }
    if ((enable & 0x04) != 0) {
        apply(data_, data, 0x000000FF);
    }
    if ((enable & 0x08) != 0) {
        apply(direction_, direction, 0x000000FF);
    }
    if ((enable & 0x10) != 0) {
        apply(data_, data, 0x000F0000);
    }
    direction_ |= 0x000F0000;
    return true;
}

bool SimulatedKeyBed::GetInputLocked(ULONG index, DWORD* word) {
    ++getInputCalls_;
    if (word == nullptr) {
        lastError_ = Ch341Error::InvalidArgument;
        return false;
    }
    *word = CH341_INPUT_UNKNOWN;
    if (!UsableLocked(index)) {
        return false;
    }
    if (failReads_ != 0) {
        if (failReads_ > 0) {
            --failReads_;
        }
        lastError_ = Ch341Error::Timeout;
        return false;
    }
    *word = LineLevelsLocked();
    return true;
}

}  // namespace platform::ch341
