#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <variant>
#include <vector>

#include "device/IKeyBedView.h"
#include "device/KeyBed.h"
#include "device/RawReadTap.h"
#include "device/WiringCheck.h"
#include "device/WiringReport.h"

namespace device {

// A guided wiring test on a key bed: opens it as the player does (KeyBed, its 25 ms scan),
// watches the scan's presses and the raw reads under them, tells the user the steps (press
// every key once from the lowest to the highest, then hold the chord steps) and follows them,
// and hands everything to a WiringCheck. The scan and the driver only queue what they see;
// Start, Pump and Finish run on one thread, which also gets the guidance.
class WiringSession : private IKeyBedView {
public:
    // One line of guidance or progress, without its newline.
    using Output = std::function<void(std::string_view line)>;

    // `device` must outlive the session.
    WiringSession(platform::ch341::ICh341Device& device, Output output,
                  std::chrono::nanoseconds scanPeriod = KeyScanThread::kPeriod);
    ~WiringSession() override;
    WiringSession(const WiringSession&) = delete;
    WiringSession& operator=(const WiringSession&) = delete;

    // Opens key bed `index`, starts the scan and gives the steps. False when it could not be
    // opened: no scan runs, and the device's own error says why.
    bool Start(ULONG index);
    // Hands what the scan saw since the last call to the check, follows plugging and
    // unplugging, and gives the next step when one is done. False once the key bed is no
    // longer open (pulled out, or the chip stopped answering): the test cannot go on.
    bool Pump();
    // Stops the scan, closes the key bed and reports on everything seen.
    WiringReport Finish();

    // Every step was done: the walk, then each chord held and let go.
    bool StepsDone() const { return step_ > static_cast<int>(WiringCheck::kChords.size()); }

private:
    struct Read {
        int row;
        DWORD word;
    };
    using Observation = std::variant<Read, std::vector<KeyEvent>>;

    void SetWindowTitle(std::string_view title) override;
    void ShowErrorBox(std::string_view text, std::string_view caption) override;

    // Moves the queued observations into the check and follows the steps.
    void Drain();
    void Follow(const KeyEvent& event);
    void PromptChord();

    Output output_;
    WiringCheck check_;

    std::mutex mutex_;  // guards the two queues
    std::vector<Observation> observations_;
    std::deque<ULONG> deviceEvents_;

    int step_ = 0;             // 0 the walk, 1-4 the chord steps, 5 done
    std::set<int> held_;       // keys down, as the scan reports them
    bool chordHeld_ = false;   // the current step's chord is down
    std::set<int> chordKeys_;  // every key that went down while it was
    bool highestPressed_ = false;
    bool finished_ = false;

    RawReadTap tap_;
    KeyBed keyBed_;  // declared last: its scan stops before the queues go
};

}  // namespace device
