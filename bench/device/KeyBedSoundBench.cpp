// Key-bed press to the first sound at the audio server, through the whole program: the
// simulated key bed at one full-speed frame per USB transfer, the scan thread, the GUI
// thread's key-note map and note routing, the built-in synthesizer on PulseAudio, read back
// from the sink's monitor. In the same run a mouse press on the same piano key gives the
// synthesizer-and-server part alone, so the difference is what the key bed adds. Both are
// timed after silence and among sounding notes: the measured note is panned hard right and a
// held organ note on another channel hard left, so its onset is timed on the right channel,
// from silence or from just above what the organ's reverb leaves there.
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
#include "musicport/MidiMsg.h"
#include "piano/CPianoCtrl.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "tests/app/MusicStack.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000;
constexpr int kFragment = 64;
// E5: its sample starts at once (A4's starts about 6 ms late in small SoundFonts).
constexpr int kNote = 76;
constexpr int kOctaveWidth = 154;  // the piano's pixels per octave
constexpr int kEOffset = 55;       // the middle of E's white key within an octave
using platform::music::BYTE;
constexpr BYTE kOrganProgram = 16;
constexpr int kSilence = 2;  // of 32767: anything above is sound

class SilentPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view, app::PromptIcon) override {
        std::fprintf(stderr, "box: %.*s\n", int(text.size()), text.data());
    }
};

// Index of the first frame whose right channel is above `threshold`, or -1.
long FirstAbove(const std::vector<std::int16_t>& samples, int threshold) {
    for (std::size_t i = 1; i < samples.size(); i += 2) {
        if (std::abs(int(samples[i])) > threshold) {
            return long(i / 2);
        }
    }
    return -1;
}

// The loudest right-channel sample over `fragments` fragments, events run between them.
int RightPeak(tests::fluidsynth::PulseMonitor& monitor, int fragments) {
    int peak = 0;
    for (int n = 0; n < fragments; ++n) {
        QCoreApplication::processEvents();
        const auto samples = monitor.Read(kFragment);
        for (std::size_t i = 1; i < samples.size(); i += 2) {
            peak = std::max(peak, std::abs(int(samples[i])));
        }
    }
    return peak;
}

// Reads the monitor, letting the GUI thread run its events between fragments, until
// `fragments` fragments in a row stayed at or below `threshold` (or a bound on the reads).
void WaitForQuiet(tests::fluidsynth::PulseMonitor& monitor, int threshold, int fragments) {
    int quiet = 0;
    for (int reads = 0; quiet < fragments && reads < 20000; ++reads) {
        QCoreApplication::processEvents();
        quiet = FirstAbove(monitor.Read(kFragment), threshold) < 0 ? quiet + 1 : 0;
    }
}

// Milliseconds from `pressed` to the first frame above `threshold`, events run between
// fragments; a negative value when nothing sounded within about four seconds.
double TimeToSound(tests::fluidsynth::PulseMonitor& monitor, Clock::time_point pressed,
                   int threshold) {
    for (int reads = 0; reads < 3000; ++reads) {
        QCoreApplication::processEvents();
        const long first = FirstAbove(monitor.Read(kFragment), threshold);
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
    struct Row {
        const char* name;
        bool keyBed;
        bool amongNotes;
        std::vector<double> ms;
    };
    std::vector<Row> rows = {{"mouse press, after silence", false, false, {}},
                             {"mouse press, among notes", false, true, {}},
                             {"key-bed press, after silence", true, false, {}},
                             {"key-bed press, among notes", true, true, {}}};
    QTimer::singleShot(0, &dialog, [&] {
        musicport::COutputPort& port = stack.outputPort;
        const int first = dialog.Piano()->GetFirstNote();
        const int key = kNote - first;
        const QPoint point(key / 12 * kOctaveWidth + kEOffset, 70);
        std::mt19937 random(16);
        // Presses land anywhere in the 25 ms scan period: up to 19 fragments (25 ms) first.
        std::uniform_int_distribution<int> phase(0, 19);
        for (Row& row : rows) {
            dialog.AllNotesOff();
            port.SendMidiMsg(musicport::MakeMidiMsg(0xB0, 1, 120, 0), 1);  // the organ, if any
            port.SendMidiMsg(musicport::MakeMidiMsg(0xB0, 0, 10, 127), 1);
            int threshold = kSilence;
            if (row.amongNotes) {
                // The organ's reverb reaches the right channel a little: the onset is timed
                // from well above that.
                port.SendMidiMsg(musicport::MakeMidiMsg(0xC0, 1, kOrganProgram, 0), 1);
                port.SendMidiMsg(musicport::MakeMidiMsg(0xB0, 1, 10, 0), 1);
                port.SendMidiMsg(musicport::MakeMidiMsg(0x90, 1, 48, 100), 1);
                RightPeak(monitor, 300 * 48 / kFragment);  // the organ's onset: not counted
                threshold = std::max(kSilence, 3 * RightPeak(monitor, 300 * 48 / kFragment));
            }
            for (int i = 0; i < presses && key >= 0 && key < 49; ++i) {
                if (!row.amongNotes) {
                    dialog.AllNotesOff();
                }
                WaitForQuiet(monitor, threshold, 150 * 48 / kFragment);
                if (row.keyBed) {
                    for (int n = phase(random); n > 0; --n) {
                        monitor.Read(kFragment);
                    }
                }
                const auto pressed = Clock::now();
                if (row.keyBed) {
                    keyBed.Press(key);
                } else {
                    QTest::mousePress(dialog.Piano(), Qt::LeftButton, {}, point);
                }
                const double ms = TimeToSound(monitor, pressed, threshold);
                if (row.keyBed) {
                    keyBed.Release(key);
                    // The release must reach the key-note map before the next press.
                    WaitForQuiet(monitor, threshold, 100 * 48 / kFragment);
                } else {
                    QTest::mouseRelease(dialog.Piano(), Qt::LeftButton, {}, point);
                }
                if (ms >= 0) {
                    row.ms.push_back(ms);
                }
            }
            std::fprintf(stderr, "%s: threshold %d, %zu of %d timed\n", row.name, threshold,
                         row.ms.size(), presses);
        }
        dialog.AllNotesOff();
        dialog.close();
    });
    dialog.DoModal();
    for (const Row& row : rows) {
        Report(row.name, row.ms);
    }
    return 0;
}
