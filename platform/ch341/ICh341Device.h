#pragma once

#include <cstdint>
#include <functional>

namespace platform::ch341 {

using ULONG = std::uint32_t;
using DWORD = std::uint32_t;

// Event codes handed to the device notification.
constexpr ULONG CH341_DEVICE_ARRIVAL = 3;
constexpr ULONG CH341_DEVICE_REMOVE = 0;

// Parallel mode the key bed runs in (MEM mode: every line settable and readable as a word).
constexpr ULONG CH341_PARALLEL_MODE_MEM = 2;

// GetInput's word when the read failed: every line high, which the matrix reads as all
// switches open, so a caller that ignores the result still sees no phantom press.
constexpr DWORD CH341_INPUT_UNKNOWN = 0xFFFFFFFF;

// The six calls the key bed needs from a CH341 bridge in parallel mode, devices named by
// index (0 = the first CH341 found). Word layout of SetOutput and GetInput: bits 0-7 D0-D7,
// 8-11 ERR#/PEMP/INT#/SLCT, 12 unused, 13-15 WAIT#/DATAS#/ADDRS#, 16-19 output-only lines,
// 23 SDA input. Realisations serialise calls internally: the scan thread and the GUI thread
// may call at the same time.
class ICh341Device {
public:
    // Called with CH341_DEVICE_ARRIVAL or CH341_DEVICE_REMOVE, possibly on a thread of the
    // driver. It must only post the code elsewhere and must not call back into the driver.
    using NotifyRoutine = std::function<void(ULONG eventCode)>;

    virtual ~ICh341Device() = default;

    // Registers the plug/unplug routine; an empty routine unregisters. After an unregistering
    // call returns, the routine is never called again. Reports any CH341, whatever the index.
    virtual bool SetDeviceNotify(ULONG index, NotifyRoutine routine) = 0;
    // Opens the index-th CH341; opening an open index reopens it.
    virtual bool OpenDevice(ULONG index) = 0;
    virtual void CloseDevice(ULONG index) = 0;
    virtual bool InitParallel(ULONG index, ULONG mode) = 0;
    // enable: which parts of direction/data apply (bit 0 data 8-15, 1 direction 8-15,
    // 2 data 0-7, 3 direction 0-7, 4 data 16-19). direction: 1 = output. data: 1 = high.
    virtual bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) = 0;
    // Reads the line levels (1 = high). On failure *word is CH341_INPUT_UNKNOWN.
    virtual bool GetInput(ULONG index, DWORD* word) = 0;
    // SetOutput, then GetInput once the lines are set. Fails, *word CH341_INPUT_UNKNOWN,
    // when either fails: a read after a failed write would report lines nobody selected.
    // The USB driver sends both commands in one transfer; this default makes two calls.
    virtual bool SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                                       DWORD* word) {
        if (!SetOutput(index, enable, direction, data)) {
            if (word != nullptr) {
                *word = CH341_INPUT_UNKNOWN;
            }
            return false;
        }
        return GetInput(index, word);
    }
};

}  // namespace platform::ch341
