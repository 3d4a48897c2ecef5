#pragma once

#include <array>
#include <chrono>
#include <mutex>

#include "platform/ch341/Ch341Error.h"
#include "platform/ch341/ICh341Device.h"

namespace platform::ch341 {

// A CH341 with a key matrix of 8 rows and 9 columns wired as the key bed is: row r on line
// 0, 1, 2, 3, 14, 15, 16 or 17, column c on line 4 + c (c < 8) or 13 (c = 8). Lines read as
// the chip would: an output line reads its driven level, an input line is pulled high unless
// a closed switch joins it to a row line driven low; bit 12 and bits 16-22 and 24-31 read 0,
// bit 23 (SDA, pulled up) reads 1. Only index 0 exists. Tests and the headless program use
// it; every call is thread-safe, and the notification runs on the thread that plugs.
// Each synchronous USB transfer the real driver makes takes one full-speed frame here too, so
// a scan takes as long as on the chip: SetOutput and InitParallel one, GetInput and
// SetOutputThenGetInput two (the commands in one transfer, then the reply).
// Wiring faults can be injected, each modelled in the line levels: a switch that never closes,
// one stuck closed or one whose contact chatters; a matrix wire cut from its chip pin; two
// wires landed on each other's pins; and a matrix built without its diodes.
class SimulatedKeyBed final : public ICh341Device {
public:
    static constexpr std::chrono::microseconds kFrame{1000};

    enum class SwitchFault {
        None,
        Dead,         // never closes
        StuckClosed,  // closed whatever the key does
        // After every change of the key, the next kChatterReads reads of its row see the
        // contact alternate, starting in the new state, before it settles in that state.
        Chatter,
    };
    static constexpr int kChatterReads = 5;

    static constexpr int kRows = 8;
    static constexpr int kColumns = 9;
    static constexpr int kKeys = kRows * kColumns;
    static constexpr std::array<int, kRows> kRowLines{0, 1, 2, 3, 14, 15, 16, 17};
    static constexpr std::array<int, kColumns> kColumnLines{4, 5, 6, 7, 8, 9, 10, 11, 13};
    // Lines GetInput reports: 0-11, 13-15 and 23.
    static constexpr DWORD kReadableLines = 0x0080EFFF;
    // Direction after power-up or InitParallel: lines 14-19 outputs.
    static constexpr DWORD kDefaultDirection = 0x000FC000;

    explicit SimulatedKeyBed(bool present = true, std::chrono::microseconds transferTime = kFrame);

    // The matrix, by key index (9 x row + column) or by row and column.
    void Press(int key);
    void Release(int key);
    void SetSwitch(int row, int column, bool closed);
    bool IsClosed(int key) const;

    // Plugging makes the device present and fires CH341_DEVICE_ARRIVAL; unplugging drops the
    // open handle and fires CH341_DEVICE_REMOVE. Notify fires any code without a state change.
    void Plug();
    void Unplug();
    void Notify(ULONG code);
    bool IsPresent() const;
    bool IsOpen() const;

    // Failure injection: opens fail while set; the next `count` reads fail (-1: all reads).
    void SetOpenFails(bool fails);
    void FailReads(int count);

    // Wiring faults; lines are the chip's line numbers of kRowLines and kColumnLines, others
    // are ignored. A cut wire leaves its pin reading as if nothing were attached (an input on
    // its pull-up) and its matrix line undriven. Swapping twice restores the wiring.
    void SetSwitchFault(int key, SwitchFault fault);
    void SetLineOpen(int line, bool open);
    void SwapLines(int lineA, int lineB);
    // Without diodes a closed switch conducts both ways, so a row driven low pulls down every
    // line it reaches through closed switches, other rows included. A line driven high is
    // taken as the weaker side (as an open-drain or quasi-bidirectional output is): the low
    // wins. With three corners of a rectangle closed, the fourth then reads closed.
    void SetDiodes(bool present);
    void ClearFaults();

    // The levels GetInput would report now.
    DWORD LineLevels() const;
    DWORD Direction() const;
    DWORD Data() const;
    ULONG Mode() const;
    int SetOutputCalls() const;
    int GetInputCalls() const;
    // Synchronous transfers made so far, at `transferTime` each.
    int Transfers() const;
    Ch341Error LastError() const;

    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override;
    bool OpenDevice(ULONG index) override;
    void CloseDevice(ULONG index) override;
    bool InitParallel(ULONG index, ULONG mode) override;
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override;
    bool GetInput(ULONG index, DWORD* word) override;
    bool SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                               DWORD* word) override;

private:
    // The matrix wires: rows 0-7, then columns 0-8.
    static constexpr int kWires = kRows + kColumns;

    DWORD LineLevelsLocked() const;
    // Whether the contact of `key` conducts at this moment (faults and chatter applied).
    bool ContactLocked(int key) const;
    // Whether matrix wire `wire` is driven low by its chip pin.
    bool WireDrivenLowLocked(int wire) const;
    // The chip's read of each wire's matrix net: true where the net is pulled low.
    std::array<bool, kWires> LowWiresLocked() const;
    // One read of the chip: moves every chattering contact whose row is selected on a step.
    void AdvanceChatterLocked();
    // Matrix wire attached (by the wiring plan) to chip line `line`, or -1.
    static int WireOfLine(int line);
    bool UsableLocked(ULONG index);
    // Sleeps for `transfers` transfers; called holding busMutex_ only.
    void Spend(int transfers) const;
    bool SetOutputLocked(ULONG index, ULONG enable, ULONG direction, ULONG data);
    bool GetInputLocked(ULONG index, DWORD* word);

    std::mutex busMutex_;  // one caller's transfers at a time, as the USB driver serialises
    mutable std::mutex mutex_;
    std::array<bool, kKeys> closed_{};
    std::array<SwitchFault, kKeys> faults_{};
    std::array<int, kKeys> chatterLeft_{};  // reads of its row before a chattering key settles
    std::array<int, kWires> wirePin_{};     // the chip line each matrix wire lands on
    std::array<bool, kWires> wireOpen_{};
    bool diodes_ = true;
    bool present_;
    bool open_ = false;
    bool openFails_ = false;
    int failReads_ = 0;
    DWORD direction_ = kDefaultDirection;
    DWORD data_ = 0xFFFFFFFF;
    ULONG mode_ = 0;
    int setOutputCalls_ = 0;
    int getInputCalls_ = 0;
    const std::chrono::microseconds transferTime_;
    int transfers_ = 0;
    Ch341Error lastError_ = Ch341Error::None;

    std::mutex notifyMutex_;  // held while the routine runs, as the USB driver does
    NotifyRoutine notify_;
};

}  // namespace platform::ch341
