#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "platform/ch341/ICh341Device.h"
#include "platform/ch341/IUsbTransport.h"

namespace platform::ch341 {

// The key-bed contract over USB: a CH341 (1a86:5512, or any device whose interface 0 is
// vendor class 0xFF/0x01/0x02, as left by an EEPROM that changed the ids) driven with the
// bridge's parallel-mode commands. A device with a kernel driver bound to interface 0 is
// never taken: a key bed in parallel mode has none, a serial adapter has its serial driver.
// Every call may come from any thread: one device mutex serialises the transfers. The
// notification routine runs on the transport's event thread, or on the calling thread when a
// transfer finds the device gone.
class Ch341UsbDevice final : public ICh341Device {
public:
    static constexpr std::uint16_t kVendorId = 0x1A86;
    static constexpr std::uint16_t kProductId = 0x5512;
    static constexpr std::uint8_t kEndpointOut = 0x02;
    static constexpr std::uint8_t kEndpointIn = 0x82;
    static constexpr std::uint8_t kRequestTypeVendorOut = 0x40;
    static constexpr std::uint8_t kRequestTypeVendorIn = 0xC0;
    static constexpr std::uint8_t kRequestParaInit = 0xB1;
    static constexpr std::uint8_t kRequestGetVersion = 0x5F;
    // Chips before the CH341A have no 0xA0/0xA1 commands: their input reads never answer.
    static constexpr std::uint16_t kFirstVersionWithParallelIo = 0x20;
    static constexpr std::uint8_t kCmdGetStatus = 0xA0;
    static constexpr std::uint8_t kCmdSetOutput = 0xA1;
    static constexpr std::size_t kSetOutputLength = 11;
    static constexpr std::size_t kStatusReplyLength = 6;
    static constexpr std::size_t kPacketLength = 32;  // one bulk packet: one command packet
    static constexpr std::size_t kReadBufferLength = kPacketLength;
    // Per transfer. A round trip takes 1-2 ms; the bound is what stopping the scan may wait
    // for when the chip stops answering, so it stays short.
    static constexpr unsigned kTimeoutMs = 100;

    explicit Ch341UsbDevice(std::unique_ptr<IUsbTransport> transport);
    ~Ch341UsbDevice() override;
    Ch341UsbDevice(const Ch341UsbDevice&) = delete;
    Ch341UsbDevice& operator=(const Ch341UsbDevice&) = delete;

    // The driver over the system's libusb.
    static std::unique_ptr<Ch341UsbDevice> CreateWithLibusb();

    // A CH341 bridge this driver may take: the ids or interface triple of the bridge, not a
    // known serial-mode id, and no kernel driver bound.
    static bool IsCh341(const UsbDeviceInfo& device);
    // The CH341 devices present, in index order. Devices that look like the bridge but have a
    // kernel driver bound are left out, with a debug line that names them.
    std::vector<UsbDeviceInfo> ListDevices();

    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override;
    bool OpenDevice(ULONG index) override;
    void CloseDevice(ULONG index) override;
    bool InitParallel(ULONG index, ULONG mode) override;
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override;
    bool GetInput(ULONG index, DWORD* word) override;
    bool SetOutputThenGetInput(ULONG index, ULONG enable, ULONG direction, ULONG data,
                               DWORD* word) override;

    // The error of the last failing call (None after a success).
    Ch341Error LastError() const;

private:
    struct OpenedDevice {
        std::unique_ptr<IUsbDeviceHandle> handle;
        UsbDeviceInfo info;
    };

    IUsbDeviceHandle* HandleLocked(ULONG index);
    // Sends `commands` (ending in 0xA0) in one bulk transfer and reads the reply into *word.
    bool ReadLines(ULONG index, std::span<const std::uint8_t> commands, DWORD* word,
                   std::string_view operation);
    // Reads and logs the chip version of a device just opened. Returns the transfer's error.
    Ch341Error LogChipVersionLocked(IUsbDeviceHandle& handle, const UsbDeviceInfo& device);
    // Whether a device that left is one this driver has open (or, with none open, a CH341).
    bool IsOursLocked(const UsbDeviceInfo& device) const;
    // Records the outcome of a call; logs a failure once until a call succeeds again.
    // Returns true when the device vanished and the caller must report the removal.
    bool FinishLocked(ULONG index, Ch341Error error, std::string_view operation);
    void ReportRemoval();
    void OnHotplug(HotplugEvent event, const UsbDeviceInfo& device);

    std::unique_ptr<IUsbTransport> transport_;

    mutable std::mutex deviceMutex_;  // guards handles_ and the error state
    std::map<ULONG, OpenedDevice> handles_;
    Ch341Error lastError_ = Ch341Error::None;
    Ch341Error loggedError_ = Ch341Error::None;

    // Held while the routine runs, so that unregistering waits for a running call.
    std::mutex notifyMutex_;
    NotifyRoutine notify_;
    bool hotplugRunning_ = false;
    // A removal was reported and no arrival or open has followed: the hot-plug "left" event
    // and a transfer's "no device" for the same unplug report it once.
    bool removalReported_ = false;
};

}  // namespace platform::ch341
