#include "app/CInputReceiver.h"

#include <chrono>

#include "performance/PerformanceLock.h"

namespace app {

using musicport::BYTE;
using musicport::DWORD;

void CInputReceiver::Attach(IInputView* view, Poster post) {
    std::lock_guard lock(mutex_);
    view_ = view;
    post_ = std::move(post);
    pending_.clear();
    drainPosted_ = false;
}

namespace {

// Input stamps count 100 ns on the steady clock.
std::chrono::steady_clock::time_point ArrivalTime(musicport::REFERENCE_TIME stamp) {
    using Ticks = std::chrono::duration<musicport::REFERENCE_TIME, std::ratio<1, 10'000'000>>;
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(Ticks(stamp)));
}

}  // namespace

void CInputReceiver::ReceiveMidiMsg(musicport::REFERENCE_TIME time, DWORD, DWORD msg) {
    const DWORD command = msg & 0xF0;
    if (command != 0x80 && command != 0x90)
        return;  // only notes are shown and recorded
    std::lock_guard lock(mutex_);
    if (view_ == nullptr)
        return;
    if (pending_.size() >= kMaxPending) {
        ++dropped_;
        return;
    }
    pending_.push_back({msg, time});
    if (drainPosted_ || !post_)
        return;
    drainPosted_ = true;
    // Posted under the lock, so that a dialog detaching (Attach) waits for a post under way
    // and none reaches it afterwards. The poster only queues.
    post_([this] { Drain(); });
}

void CInputReceiver::ReceiveMidiMsg(musicport::REFERENCE_TIME, DWORD, DWORD, const BYTE*) {}

void CInputReceiver::Drain() {
    std::vector<Pending> messages;
    IInputView* view = nullptr;
    {
        std::lock_guard lock(mutex_);
        messages.swap(pending_);
        drainPosted_ = false;
        view = view_;
    }
    if (view == nullptr)
        return;
    performance::PerformanceGuard guard(performance::PerformanceLock());
    for (const auto& [msg, arrival] : messages) {
        const DWORD command = msg & 0xF0;
        const std::size_t channel = msg & 0x0F;
        const auto note = BYTE((msg >> 8) & 0x7F);
        const auto velocity = BYTE((msg >> 16) & 0x7F);
        view->RecordingStep(msg, ArrivalTime(arrival));
        if (command == 0x90 && velocity > 0) {
            sounding_[channel][note] = true;
            view->PressKey(note);
            view->AddMessage(note, velocity, 2);
        } else {
            sounding_[channel][note] = false;
            view->ReleaseKey(note);
        }
    }
}

void CInputReceiver::ReleaseAll() {
    Drain();
    IInputView* view = nullptr;
    {
        std::lock_guard lock(mutex_);
        view = view_;
    }
    performance::PerformanceGuard guard(performance::PerformanceLock());
    for (std::size_t channel = 0; channel < sounding_.size(); ++channel) {
        for (std::size_t note = 0; note < 128; ++note) {
            if (!sounding_[channel][note])
                continue;
            sounding_[channel][note] = false;
            if (view == nullptr)
                continue;
            view->ReleaseKey(BYTE(note));
            // Thru plays input channel 1 on the output's channel 1; the others never sounded.
            if (channel == 0)
                view->SendToOutput(musicport::MakeMidiMsg(0x80, 0, BYTE(note), 0));
        }
    }
}

std::size_t CInputReceiver::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace app
