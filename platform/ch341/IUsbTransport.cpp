#include "platform/ch341/IUsbTransport.h"

namespace platform::ch341 {

Ch341Error IUsbDeviceHandle::BulkOutsThenIn(std::uint8_t endpointOut,
                                            std::span<const std::span<const std::uint8_t>> packets,
                                            std::span<int> sent, std::uint8_t endpointIn,
                                            std::span<std::uint8_t> buffer, int& received,
                                            unsigned timeoutMs) {
    received = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        sent[i] = 0;
    }
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const Ch341Error error = BulkOut(endpointOut, packets[i], sent[i], timeoutMs);
        if (error != Ch341Error::None) {
            return error;
        }
        if (sent[i] != static_cast<int>(packets[i].size())) {
            return Ch341Error::ShortTransfer;
        }
    }
    return BulkIn(endpointIn, buffer, received, timeoutMs);
}

}  // namespace platform::ch341
