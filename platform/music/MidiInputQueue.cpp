#include "platform/music/MidiInputQueue.h"

#include "platform/music/ResultCodes.h"

namespace platform::music {

HRESULT MidiInputQueue::SetReadNotificationHandle(std::shared_ptr<AutoResetEvent> event) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(event);
    // Input that arrived before the handle was set is announced at once.
    if (notify_ && !events_.empty())
        notify_->Set();
    return S_OK;
}

void MidiInputQueue::Push(REFERENCE_TIME time, const BYTE* data, DWORD length) {
    if (data == nullptr || length == 0)
        return;
    std::shared_ptr<AutoResetEvent> notify;
    {
        std::lock_guard lock(mutex_);
        if (events_.size() >= kMaxEvents) {
            ++dropped_;
            return;
        }
        events_.push_back({time, std::vector<BYTE>(data, data + length)});
        notify = notify_;
    }
    if (notify)
        notify->Set();
}

HRESULT MidiInputQueue::Read(IMusicBuffer& buffer) {
    HRESULT hr = buffer.Flush();
    if (Failed(hr))
        return hr;
    std::lock_guard lock(mutex_);
    bool packed = false;
    while (!events_.empty()) {
        const Event& e = events_.front();
        hr = buffer.PackUnstructured(e.time, 1, DWORD(e.bytes.size()), e.bytes.data());
        if (hr == DMUS_E_BUFFER_FULL && packed)
            break;  // the rest waits for the next read
        // A message larger than the whole buffer could never be read: it is dropped.
        if (Succeeded(hr))
            packed = true;
        else
            ++dropped_;
        events_.pop_front();
    }
    return packed ? S_OK : S_FALSE;
}

std::size_t MidiInputQueue::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::size_t MidiInputQueue::Waiting() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

}  // namespace platform::music
