#include "platform/music/EventBuffer.h"

#include <algorithm>

#include "platform/music/ResultCodes.h"

namespace platform::music {

DWORD ShortMessageLength(BYTE status) {
    if (status < 0x80)
        return 0;
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0:
            return 2;
        case 0xF0:
            break;
        default:
            return 3;
    }
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        case 0xF0:
        case 0xF7:
            return 0;  // system exclusive goes unstructured
        default:
            return 1;
    }
}

EventBuffer::EventBuffer(DWORD capacityBytes) : capacity_(capacityBytes) {
    constexpr DWORD kReserveLimit = 64 * 1024;
    const DWORD reserved = std::min(capacity_, kReserveLimit);
    bytes_.reserve(reserved);
    events_.reserve(reserved / DMUS_EVENT_SIZE(0) + 1);
}

HRESULT EventBuffer::PackStructured(REFERENCE_TIME time, DWORD channelGroup, DWORD message) {
    const BYTE bytes[3] = {BYTE(message & 0xFF), BYTE((message >> 8) & 0xFF),
                           BYTE((message >> 16) & 0xFF)};
    const DWORD length = ShortMessageLength(bytes[0]);
    if (length == 0)
        return DMUS_E_INVALID_EVENT;
    return Append(time, channelGroup, bytes, length);
}

HRESULT EventBuffer::PackUnstructured(REFERENCE_TIME time, DWORD channelGroup, DWORD length,
                                      const BYTE* data) {
    if (data == nullptr && length != 0)
        return E_POINTER;
    return Append(time, channelGroup, data, length);
}

HRESULT EventBuffer::Append(REFERENCE_TIME time, DWORD channelGroup, const BYTE* data,
                            DWORD length) {
    const DWORD size = DMUS_EVENT_SIZE(length);
    if (length > capacity_ || size > capacity_ - used_)
        return DMUS_E_BUFFER_FULL;
    events_.push_back({time, channelGroup, bytes_.size(), length});
    bytes_.insert(bytes_.end(), data, data + length);
    used_ += size;
    return S_OK;
}

HRESULT EventBuffer::Flush() {
    events_.clear();
    bytes_.clear();
    used_ = 0;
    readIndex_ = 0;
    return S_OK;
}

HRESULT EventBuffer::ResetReadPtr() {
    readIndex_ = 0;
    return S_OK;
}

HRESULT EventBuffer::GetNextEvent(REFERENCE_TIME* time, DWORD* channelGroup, DWORD* length,
                                  const BYTE** data) {
    if (readIndex_ >= events_.size())
        return S_FALSE;
    const Event& e = events_[readIndex_++];
    if (time)
        *time = e.time;
    if (channelGroup)
        *channelGroup = e.channelGroup;
    if (length)
        *length = e.length;
    if (data)
        *data = bytes_.data() + e.offset;
    return S_OK;
}

}  // namespace platform::music
