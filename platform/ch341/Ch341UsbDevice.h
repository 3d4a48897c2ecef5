#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/ch341/ICh341Device.h"
#include "platform/ch341/IUsbTransport.h"

namespace platform::ch341 {

// The key-bed contract over USB: a CH341 (1a86:5512, or any device whose interface 0 is
// vendor class 0xFF/0x01/0x02, as left by an EEPROM that changed the ids) driven with the
// bridge's parallel-mode commands. Every call may come from any thread: one device mutex
// serialises the transfers. The notification routine runs on the transport's event thread,
// or on the calling thread when a transfer finds the device gone.
class Ch341UsbDevice final : public ICh341Device {
public:
    static constexpr std::uint16_t kVendorId = 0x1A86;
    static constexpr std::uint16_t kProductId = 0x5512;
    static constexpr std::uint8_t kEndpointOut = 0x02;
    static constexpr std::uint8_t kEndpointIn = 0x82;
    static constexpr std::uint8_t kRequestTypeVendorOut = 0x40;
    static constexpr std::uint8_t kRequestParaInit = 0xB1;
    static constexpr std::uint8_t kCmdGetStatus = 0xA0;
    static constexpr std::uint8_t kCmdSetOutput = 0xA1;
    static constexpr std::size_t kSetOutputLength = 11;
    static constexpr std::size_t kStatusReplyLength = 6;
    static constexpr std::size_t kReadBufferLength = 32;  // one bulk packet
    // Short enough that a hung chip costs a few scan ticks, long enough for a busy bus.
    static constexpr unsigned kTimeoutMs = 500;

    explicit Ch341UsbDevice(std::unique_ptr<IUsbTransport> transport);
    ~Ch341UsbDevice() override;
    Ch341UsbDevice(const Ch341UsbDevice&) = delete;
    Ch341UsbDevice& operator=(const Ch341UsbDevice&) = delete;

    // The driver over the system's libusb.
    static std::unique_ptr<Ch341UsbDevice> CreateWithLibusb();

    static bool IsCh341(const UsbDeviceInfo& device);
    // The CH341 devices present, in index order.
    std::vector<UsbDeviceInfo> ListDevices();

    bool SetDeviceNotify(ULONG index, NotifyRoutine routine) override;
    bool OpenDevice(ULONG index) override;
    void CloseDevice(ULONG index) override;
    bool InitParallel(ULONG index, ULONG mode) override;
    bool SetOutput(ULONG index, ULONG enable, ULONG direction, ULONG data) override;
    bool GetInput(ULONG index, DWORD* word) override;

    // The error of the last failing call (None after a success).
    Ch341Error LastError() const;

private:
    IUsbDeviceHandle* HandleLocked(ULONG index);
    // Records the outcome of a call; logs a failure once until a call succeeds again.
    // Returns true when the device vanished and the caller must report the removal.
    bool FinishLocked(ULONG index, Ch341Error error, std::string_view operation);
    void ReportRemoval();
    void OnHotplug(HotplugEvent event, const UsbDeviceInfo& device);

    std::unique_ptr<IUsbTransport> transport_;

    mutable std::mutex deviceMutex_;  // guards handles_ and the error state
    std::map<ULONG, std::unique_ptr<IUsbDeviceHandle>> handles_;
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
