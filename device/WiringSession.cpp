#include "device/WiringSession.h"

#include <string>
#include <utility>

#include "device/MatrixLines.h"

namespace device {

namespace {

std::string KeyList(const std::vector<int>& keys, int offset = 0) {
    std::string text;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) {
            text += i + 1 == keys.size() ? " and " : ", ";
        }
        text += std::to_string(keys[i] + offset);
    }
    return text;
}

std::string ChordText(const WiringCheck::Chord& chord) {
    const std::vector<int> keys(chord.keys.begin(), chord.keys.end());
    return "keys " + KeyList(keys) + " (notes " + KeyList(keys, kFirstKeyNote) + ")";
}

}  // namespace

WiringSession::WiringSession(platform::ch341::ICh341Device& device, Output output,
                             std::chrono::nanoseconds scanPeriod)
    : output_(std::move(output)),
      tap_(device,
           [this](int row, DWORD word) {
               std::lock_guard lock(mutex_);
               observations_.emplace_back(Read{row, word});
           }),
      keyBed_(
          tap_, *this,
          [this](ULONG code) {
              std::lock_guard lock(mutex_);
              deviceEvents_.push_back(code);
          },
          [this](std::span<const KeyEvent> events) {
              std::lock_guard lock(mutex_);
              observations_.emplace_back(std::vector<KeyEvent>(events.begin(), events.end()));
          },
          scanPeriod) {}

WiringSession::~WiringSession() = default;

void WiringSession::SetWindowTitle(std::string_view /*title*/) {}

void WiringSession::ShowErrorBox(std::string_view text, std::string_view caption) {
    output_(std::string(caption) + ": " + std::string(text));
}

bool WiringSession::Start(ULONG index) {
    keyBed_.Start(index);
    if (!keyBed_.IsDeviceOpen()) {
        return false;
    }
    const int highest = WiringCheck::kKeys - 1;
    output_("Step 1: press every key once, one at a time, from the lowest (key 0, note " +
            std::to_string(kFirstKeyNote) + ") to the highest (key " + std::to_string(highest) +
            ", note " + std::to_string(kFirstKeyNote + highest) + ").");
    output_("Step 2: then hold each of these chords for a moment, and let go:");
    for (std::size_t i = 0; i < WiringCheck::kChords.size(); ++i) {
        output_("  chord " + std::to_string(i + 1) + ": " + ChordText(WiringCheck::kChords[i]));
    }
    output_("Start with key 0.");
    return true;
}

bool WiringSession::Pump() {
    std::deque<ULONG> codes;
    {
        std::lock_guard lock(mutex_);
        codes.swap(deviceEvents_);
    }
    for (const ULONG code : codes) {
        keyBed_.OnDeviceEvent(code);
    }
    Drain();
    return keyBed_.IsDeviceOpen();
}

WiringReport WiringSession::Finish() {
    if (!finished_) {
        // The scan stops first, so the reads it made up to then are all in the queue.
        keyBed_.Destroy();
        Drain();
        finished_ = true;
    }
    return check_.Report();
}

void WiringSession::Drain() {
    std::vector<Observation> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(observations_);
    }
    if (finished_) {
        return;
    }
    for (const Observation& o : pending) {
        if (const auto* read = std::get_if<Read>(&o)) {
            check_.OnRead(read->row, read->word);
            continue;
        }
        const auto& events = std::get<std::vector<KeyEvent>>(o);
        check_.OnKeyEvents(events);
        for (const KeyEvent& e : events) {
            Follow(e);
        }
    }
}

void WiringSession::Follow(const KeyEvent& e) {
    const int chords = static_cast<int>(WiringCheck::kChords.size());
    if (e.pressed) {
        held_.insert(e.key);
        if (step_ == 0) {
            output_("key " + std::to_string(e.key) + " (row " + std::to_string(e.row) +
                    ", column " + std::to_string(e.column) + ", note " +
                    std::to_string(kFirstKeyNote + e.key) + ")");
            highestPressed_ = highestPressed_ || e.key == WiringCheck::kKeys - 1;
        }
        if (chordHeld_) {
            chordKeys_.insert(e.key);
        }
    } else {
        held_.erase(e.key);
    }
    const bool chordDown = static_cast<int>(held_.size()) >= WiringCheck::kChordSize;
    // The walk ends at the highest key let go, or when a chord goes down before that.
    if (step_ == 0 && ((highestPressed_ && held_.empty()) || chordDown)) {
        output_("Step 1 done.");
        step_ = 1;
        PromptChord();
    }
    if (step_ < 1 || step_ > chords) {
        return;
    }
    if (!chordHeld_ && chordDown) {
        chordHeld_ = true;
        chordKeys_ = held_;
    } else if (chordHeld_ && held_.empty()) {
        chordHeld_ = false;
        output_("Chord " + std::to_string(step_) + ": keys " +
                KeyList({chordKeys_.begin(), chordKeys_.end()}) + " went down.");
        ++step_;
        if (step_ <= chords) {
            PromptChord();
        } else {
            output_("All steps done: press Enter for the report.");
        }
    }
}

void WiringSession::PromptChord() {
    output_("Hold chord " + std::to_string(step_) + ": " +
            ChordText(WiringCheck::kChords[static_cast<std::size_t>(step_ - 1)]) + ".");
}

}  // namespace device
