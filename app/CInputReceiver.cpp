#include "app/CInputReceiver.h"

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

void CInputReceiver::ReceiveMidiMsg(musicport::REFERENCE_TIME, DWORD, DWORD msg) {
    const DWORD command = msg & 0xF0;
    if (command != 0x80 && command != 0x90)
        return;  // only notes are shown and recorded
    Poster post;
    {
        std::lock_guard lock(mutex_);
        if (view_ == nullptr)
            return;
        if (pending_.size() >= kMaxPending) {
            ++dropped_;
            return;
        }
        pending_.push_back(msg);
        if (drainPosted_)
            return;
        drainPosted_ = true;
        post = post_;
    }
    if (post)
        post([this] { Drain(); });
}

void CInputReceiver::ReceiveMidiMsg(musicport::REFERENCE_TIME, DWORD, DWORD, const BYTE*) {}

void CInputReceiver::Drain() {
    std::vector<DWORD> messages;
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
    for (const DWORD msg : messages) {
        const DWORD command = msg & 0xF0;
        const std::size_t channel = msg & 0x0F;
        const auto note = BYTE((msg >> 8) & 0x7F);
        const auto velocity = BYTE((msg >> 16) & 0x7F);
        view->RecordingStep(msg);
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
