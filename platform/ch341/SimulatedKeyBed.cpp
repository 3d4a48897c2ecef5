#include "platform/ch341/SimulatedKeyBed.h"

#include <thread>
#include <utility>

namespace platform::ch341 {

namespace {

constexpr DWORD Bit(int line) {
    return DWORD{1} << line;
}

}  // namespace

SimulatedKeyBed::SimulatedKeyBed(bool present, std::chrono::microseconds transferTime)
    : present_(present), transferTime_(transferTime) {
    ClearFaults();
}

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
    const auto key = static_cast<std::size_t>(row * kColumns + column);
    if (closed_[key] != closed && faults_[key] == SwitchFault::Chatter) {
        chatterLeft_[key] = kChatterReads;
    }
    closed_[key] = closed;
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

void SimulatedKeyBed::SetSwitchFault(int key, SwitchFault fault) {
    if (key < 0 || key >= kKeys) {
        return;
    }
    std::lock_guard lock(mutex_);
    faults_[static_cast<std::size_t>(key)] = fault;
    chatterLeft_[static_cast<std::size_t>(key)] = 0;
}

int SimulatedKeyBed::WireOfLine(int line) {
    for (int row = 0; row < kRows; ++row) {
        if (kRowLines[static_cast<std::size_t>(row)] == line) {
            return row;
        }
    }
    for (int column = 0; column < kColumns; ++column) {
        if (kColumnLines[static_cast<std::size_t>(column)] == line) {
            return kRows + column;
        }
    }
    return -1;
}

void SimulatedKeyBed::SetLineOpen(int line, bool open) {
    const int wire = WireOfLine(line);
    if (wire < 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    wireOpen_[static_cast<std::size_t>(wire)] = open;
}

void SimulatedKeyBed::SwapLines(int lineA, int lineB) {
    const int a = WireOfLine(lineA);
    const int b = WireOfLine(lineB);
    if (a < 0 || b < 0 || a == b) {
        return;
    }
    std::lock_guard lock(mutex_);
    std::swap(wirePin_[static_cast<std::size_t>(a)], wirePin_[static_cast<std::size_t>(b)]);
}

void SimulatedKeyBed::SetDiodes(bool present) {
    std::lock_guard lock(mutex_);
    diodes_ = present;
}

void SimulatedKeyBed::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.fill(SwitchFault::None);
    chatterLeft_.fill(0);
    for (int row = 0; row < kRows; ++row) {
        wirePin_[static_cast<std::size_t>(row)] = kRowLines[static_cast<std::size_t>(row)];
    }
    for (int column = 0; column < kColumns; ++column) {
        wirePin_[static_cast<std::size_t>(kRows + column)] =
            kColumnLines[static_cast<std::size_t>(column)];
    }
    wireOpen_.fill(false);
    diodes_ = true;
}

bool SimulatedKeyBed::ContactLocked(int key) const {
    const auto k = static_cast<std::size_t>(key);
    switch (faults_[k]) {
        case SwitchFault::Dead:
            return false;
        case SwitchFault::StuckClosed:
            return true;
        case SwitchFault::Chatter:
            if (chatterLeft_[k] > 0) {
                // Reads 0, 2, 4 after the change see the new state, reads 1, 3 the old one.
                const bool odd = (kChatterReads - chatterLeft_[k]) % 2 == 1;
                return closed_[k] != odd;
            }
            return closed_[k];
        case SwitchFault::None:
            break;
    }
    return closed_[k];
}

bool SimulatedKeyBed::WireDrivenLowLocked(int wire) const {
    const auto w = static_cast<std::size_t>(wire);
    if (wireOpen_[w]) {
        return false;
    }
    const DWORD bit = Bit(wirePin_[w]);
    return (direction_ & bit) != 0 && (data_ & bit) == 0;
}

std::array<bool, SimulatedKeyBed::kWires> SimulatedKeyBed::LowWiresLocked() const {
    std::array<bool, kWires> low{};
    for (int wire = 0; wire < kWires; ++wire) {
        low[static_cast<std::size_t>(wire)] = WireDrivenLowLocked(wire);
    }
    if (diodes_) {
        // Each diode lets a row pull its column down, never a column pull a row.
        for (int row = 0; row < kRows; ++row) {
            if (!low[static_cast<std::size_t>(row)]) {
                continue;
            }
            for (int column = 0; column < kColumns; ++column) {
                if (ContactLocked(row * kColumns + column)) {
                    low[static_cast<std::size_t>(kRows + column)] = true;
                }
            }
        }
        return low;
    }
    // No diodes: closed switches join rows and columns into nets; a net with a wire driven
    // low is low on every wire. Spread the low level until nothing changes.
    for (bool changed = true; changed;) {
        changed = false;
        for (int key = 0; key < kKeys; ++key) {
            if (!ContactLocked(key)) {
                continue;
            }
            auto& rowLow = low[static_cast<std::size_t>(key / kColumns)];
            auto& columnLow = low[static_cast<std::size_t>(kRows + key % kColumns)];
            if (rowLow != columnLow) {
                rowLow = columnLow = true;
                changed = true;
            }
        }
    }
    return low;
}

DWORD SimulatedKeyBed::LineLevelsLocked() const {
    // Outputs read back what they drive; inputs float high on their pull-ups unless their
    // matrix wire is pulled low.
    DWORD levels = (data_ & direction_) | ~direction_;
    const auto low = LowWiresLocked();
    for (int wire = 0; wire < kWires; ++wire) {
        const auto w = static_cast<std::size_t>(wire);
        const DWORD bit = Bit(wirePin_[w]);
        if (!wireOpen_[w] && low[w] && (direction_ & bit) == 0) {
            levels &= ~bit;
        }
    }
    return levels & kReadableLines;
}

void SimulatedKeyBed::AdvanceChatterLocked() {
    for (int key = 0; key < kKeys; ++key) {
        auto& left = chatterLeft_[static_cast<std::size_t>(key)];
        if (left > 0 && WireDrivenLowLocked(key / kColumns)) {
            --left;
        }
    }
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
    AdvanceChatterLocked();
    return true;
}

}  // namespace platform::ch341
