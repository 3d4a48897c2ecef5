// The main dialog's cost of one mouse press on a piano key, and the time from that press to the
// first sound at the audio server.
//
//   tunestead-bench-dialog [presses]
//
// The offscreen run: the GUI thread's time per press (hit test, drawing, note routing,
// message-list row) with the output port on the scriptable platform, against a press in a gap
// between keys (hit test only) as the baseline. The audio run needs PULSE_SERVER: the press goes
// through the real synthesizer on PulseAudio (its GUI-thread cost is timed again there) and
// the sink's monitor is read until the note shows up.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "performance/CMidiListCtrl.h"
#include "piano/CPianoCtrl.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/music/ResultCodes.h"
#include "tests/app/MusicStack.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"
#include "tests/support/music/FakeMusicSystem.h"

namespace {

namespace pm = platform::music;
using Clock = std::chrono::steady_clock;

class SilentPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view, app::PromptIcon) override {
        std::fprintf(stderr, "box: %.*s\n", int(text.size()), text.data());
    }
};

struct Summary {
    double p10, median, p90;
};

Summary Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1) + 0.5)]; };
    return {at(0.1), at(0.5), at(0.9)};
}

// Runs `body` inside the modal loop of a dialog built over `system`, then closes it.
void WithDialog(pm::IMusicSystem& system, const std::function<void(app::CMainDlg&)>& body) {
    SilentPrompts prompts;
    tests::MusicStack stack(system, prompts);
    platform::ch341::SimulatedKeyBed keyBed(false);
    tests::DialogFakes fakes;
    app::CMainDlg dialog(fakes.Services(stack, prompts, keyBed));
    QTimer::singleShot(0, &dialog, [&] {
        body(dialog);
        dialog.close();
    });
    dialog.DoModal();
}

// Microseconds of GUI-thread time per press and release at `point`, including the list row.
std::vector<double> TimePresses(app::CMainDlg& dialog, QPoint point, int presses) {
    piano::CPianoCtrl* piano = dialog.Piano();
    std::vector<double> times;
    times.reserve(std::size_t(presses));
    for (int i = 0; i < presses; ++i) {
        const auto start = Clock::now();
        QTest::mousePress(piano, Qt::LeftButton, {}, point);
        dialog.MessageList()->ApplyPendingCells();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        QTest::mouseRelease(piano, Qt::LeftButton, {}, point);
        if (i % 500 == 499)
            dialog.MessageList()->DeleteAllItems();
    }
    return times;
}

void ReportPresses(const char* name, const std::vector<double>& times, double baseline) {
    const Summary s = Summarise(times);
    std::printf("%-40s median %7.2f us  p10 %7.2f  p90 %7.2f  ratio to gap %5.1f\n", name, s.median,
                s.p10, s.p90, baseline > 0 ? s.median / baseline : 0.0);
}

void GuiCost(int presses) {
    const QPoint key(2 * 154 + 10, 70);  // note 60
    const QPoint gap(16, 30);            // between C and C# of the first octave
    double baseline = 0;
    pm::fake::FakeMusicSystem fake;
    fake.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS);
    WithDialog(fake, [&](app::CMainDlg& dialog) {
        TimePresses(dialog, key, 200);  // warm-up
        const auto gapTimes = TimePresses(dialog, gap, presses);
        baseline = Summarise(gapTimes).median;
        ReportPresses("press in a gap (baseline)", gapTimes, baseline);
        ReportPresses("press on a key, scriptable port", TimePresses(dialog, key, presses),
                      baseline);
    });
}

constexpr int kFragment = 64;

long FirstSound(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > 2)
            return long(i / 2);
    return -1;
}

void PressToSound(int repetitions) {
    tests::fluidsynth::PulseMonitor monitor(48000, kFragment);
    if (!tests::fluidsynth::PulseMonitor::ServerReachable() || !monitor.Connected()) {
        std::printf("press to sound: no PulseAudio server (set PULSE_SERVER)\n");
        return;
    }
    const auto system = platform::CreateDefaultMusicSystem();
    std::vector<double> latencies;
    std::vector<double> pressCosts;
    WithDialog(*system, [&](app::CMainDlg& dialog) {
        piano::CPianoCtrl* piano = dialog.Piano();
        const QPoint key(2 * 154 + 115, 70);  // note 69
        for (int rep = 0; rep < repetitions; ++rep) {
            dialog.AllNotesOff();
            // Wait for 150 ms of silence in a row (reverb tails included).
            int quiet = 0;
            for (int reads = 0; quiet < 150 * 48 / kFragment && reads < 20000; ++reads)
                quiet = FirstSound(monitor.Read(kFragment)) < 0 ? quiet + 1 : 0;
            const auto pressed = Clock::now();
            QTest::mousePress(piano, Qt::LeftButton, {}, key);
            dialog.MessageList()->ApplyPendingCells();
            pressCosts.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - pressed).count());
            for (int reads = 0; reads < 3000; ++reads) {
                const auto samples = monitor.Read(kFragment);
                const long first = FirstSound(samples);
                if (first >= 0) {
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - pressed).count() -
                        1000.0 * double(kFragment - first) / 48000.0;
                    latencies.push_back(std::max(0.0, ms));
                    break;
                }
            }
            QTest::mouseRelease(piano, Qt::LeftButton, {}, key);
            dialog.MessageList()->ApplyPendingCells();
        }
    });
    if (latencies.empty()) {
        std::printf("press to sound: no measurement\n");
        return;
    }
    const Summary c = Summarise(pressCosts);
    std::printf("%-40s median %7.2f us  p10 %7.2f  p90 %7.2f  (n=%zu)\n",
                "press on a key, synthesizer on PulseAudio", c.median, c.p10, c.p90,
                pressCosts.size());
    const Summary s = Summarise(latencies);
    std::printf("%-40s median %7.2f ms  p10 %7.2f  p90 %7.2f  (n=%zu)\n",
                "mouse press to first sound at the sink", s.median, s.p10, s.p90, latencies.size());
}

// A flood of MIDI input (10,000 note messages a second for two seconds) while the GUI runs:
// how late a 10 ms GUI timer fires, and how many notes reached the screen.
void InputFlood() {
    pm::fake::FakeMusicSystem fake;
    auto& in = fake.AddPort("MIDI In", pm::DMUS_PC_INPUTCLASS);
    fake.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS);
    std::vector<double> lateness;
    int rows = 0;
    std::size_t sent = 0;
    WithDialog(fake, [&](app::CMainDlg& dialog) {
        std::atomic<bool> stop{false};
        std::thread source([&] {
            auto next = Clock::now();
            while (!stop) {
                for (int i = 0; i < 10; ++i, ++sent)  // 10 per millisecond
                    in.Receive(
                        {pm::BYTE(sent % 2 ? 0x80 : 0x90), pm::BYTE(36 + sent / 2 % 49), 100});
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
            }
        });
        QTimer tick;
        auto last = Clock::now();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            lateness.push_back(
                std::max(0.0, std::chrono::duration<double, std::milli>(now - last).count() - 10));
            last = now;
        });
        tick.start(10);
        QTest::qWait(2000);
        stop = true;
        source.join();
        QTest::qWait(200);
        dialog.MessageList()->ApplyPendingCells();
        rows = dialog.MessageList()->GetItemCount();
    });
    const Summary s = Summarise(lateness);
    const double worst = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
    std::printf("%-40s median %7.2f ms  p90 %7.2f  max %7.2f  (%zu events sent, %d rows)\n",
                "GUI timer lateness, 10k input events/s", s.median, s.p90, worst, sent, rows);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
    GuiCost(presses);
    InputFlood();
    PressToSound(60);
    return 0;
}
