// Key-bed press to the first sound at the audio server, through the whole program: the
// simulated key bed at one full-speed frame per USB transfer, the scan thread, the GUI
// thread's key-note map and note routing, the built-in synthesizer on PulseAudio, read back
// from the sink's monitor. In the same run a mouse press on the same piano key gives the
// synthesizer-and-server part alone, so the difference is what the key bed adds.
//
//   tunestead-bench-keybed-sound [presses]   (PULSE_SERVER; 25 presses unless told)

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "piano/CPianoCtrl.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "tests/app/MusicStack.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000;
constexpr int kFragment = 64;
constexpr int kNote = 69;                    // the dialog benchmark's note, for comparison
const QPoint kNotePoint(2 * 154 + 115, 70);  // where the mouse plays it on the piano

class SilentPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view, app::PromptIcon) override {
        std::fprintf(stderr, "box: %.*s\n", int(text.size()), text.data());
    }
};

// Index of the first frame above the noise floor, or -1.
long FirstSound(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) > 2) {
            return long(i / 2);
        }
    }
    return -1;
}

// Reads the monitor, letting the GUI thread run its events between fragments, until `frames`
// fragments in a row were silent (or a bound on the reads).
void WaitForSilence(tests::fluidsynth::PulseMonitor& monitor, int fragments) {
    int quiet = 0;
    for (int reads = 0; quiet < fragments && reads < 20000; ++reads) {
        QCoreApplication::processEvents();
        quiet = FirstSound(monitor.Read(kFragment)) < 0 ? quiet + 1 : 0;
    }
}

// Milliseconds from `pressed` to the first sounding frame, events run between fragments; a
// negative value when nothing sounded within about four seconds.
double TimeToSound(tests::fluidsynth::PulseMonitor& monitor, Clock::time_point pressed) {
    for (int reads = 0; reads < 3000; ++reads) {
        QCoreApplication::processEvents();
        const long first = FirstSound(monitor.Read(kFragment));
        if (first >= 0) {
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - pressed).count() -
                1000.0 * double(kFragment - first) / kRate;
            return std::max(0.0, ms);
        }
    }
    return -1;
}

void Report(const char* name, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-44s no measurement\n", name);
        return;
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::size_t(q * double(ms.size() - 1) + 0.5)]; };
    std::printf("%-44s median %6.1f ms  p10 %6.1f  p90 %6.1f  (n=%zu)\n", name, at(0.5), at(0.1),
                at(0.9), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::max(5, std::atoi(argv[1])) : 25;
    tests::fluidsynth::PulseMonitor monitor(kRate, kFragment);
    if (!tests::fluidsynth::PulseMonitor::ServerReachable() || !monitor.Connected()) {
        std::printf("no PulseAudio server (set PULSE_SERVER)\n");
        return 1;
    }
    const auto system = platform::CreateDefaultMusicSystem();
    SilentPrompts prompts;
    tests::MusicStack stack(*system, prompts);
    platform::ch341::SimulatedKeyBed keyBed;  // plugged in, one frame per transfer
    tests::DialogFakes fakes;
    app::CMainDlg dialog(fakes.Services(stack, prompts, keyBed));
    std::vector<double> mouse;
    std::vector<double> keys;
    QTimer::singleShot(0, &dialog, [&] {
        const int key = kNote - dialog.Piano()->GetFirstNote();
        std::mt19937 random(16);
        // Presses land anywhere in the 25 ms scan period: up to 19 fragments (25 ms) first.
        std::uniform_int_distribution<int> phase(0, 19);
        for (int i = 0; i < presses; ++i) {
            dialog.AllNotesOff();
            WaitForSilence(monitor, 150 * 48 / kFragment);
            const auto pressed = Clock::now();
            QTest::mousePress(dialog.Piano(), Qt::LeftButton, {}, kNotePoint);
            const double ms = TimeToSound(monitor, pressed);
            QTest::mouseRelease(dialog.Piano(), Qt::LeftButton, {}, kNotePoint);
            if (ms >= 0) {
                mouse.push_back(ms);
            }
        }
        for (int i = 0; i < presses && key >= 0 && key < 49; ++i) {
            dialog.AllNotesOff();
            WaitForSilence(monitor, 150 * 48 / kFragment);
            for (int n = phase(random); n > 0; --n) {
                monitor.Read(kFragment);
            }
            const auto pressed = Clock::now();
            keyBed.Press(key);
            const double ms = TimeToSound(monitor, pressed);
            keyBed.Release(key);
            if (ms >= 0) {
                keys.push_back(ms);
            }
            // The release must reach the key-note map before the next press of this key.
            WaitForSilence(monitor, 100 * 48 / kFragment);
        }
        dialog.close();
    });
    dialog.DoModal();
    Report("mouse press to first sound (synthesizer)", mouse);
    Report("key-bed press to first sound", keys);
    return 0;
}
