// How long closing the main window takes: from the close request to the end of the dialog's
// modal loop and its window teardown (All Notes Off, the key bed's scan stopped and joined, the
// device closed). Each cycle builds a new dialog; the time to build it is reported beside, as the
// baseline of the same machine at the same moment.
//
//   tunestead-bench-close [cycles]   (PULSE_SERVER: the real synthesizer; else the scriptable one)

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/CMainDlg.h"
#include "app/IUserPrompts.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/music/ResultCodes.h"
#include "tests/app/MusicStack.h"
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

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double Max(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

struct Cycle {
    double startMs;
    double closeMs;
};

// One dialog over `system`, with a key bed present (its scan thread running) or absent.
Cycle OpenAndClose(pm::IMusicSystem& system, bool keyBedPresent) {
    SilentPrompts prompts;
    tests::MusicStack stack(system, prompts);
    platform::ch341::SimulatedKeyBed keyBed(keyBedPresent);
    tests::DialogFakes fakes;
    Cycle cycle{};
    const auto built = Clock::now();
    app::CMainDlg dialog(fakes.Services(stack, prompts, keyBed));
    Clock::time_point closing;
    QTimer::singleShot(0, &dialog, [&] {
        cycle.startMs = std::chrono::duration<double, std::milli>(Clock::now() - built).count();
        // A few scan ticks first, so a running scan is what the close has to stop.
        QTimer::singleShot(80, &dialog, [&] {
            closing = Clock::now();
            dialog.close();
        });
    });
    dialog.DoModal();
    cycle.closeMs = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
    return cycle;
}

void Report(const char* name, pm::IMusicSystem& system, bool keyBedPresent, int cycles) {
    std::vector<double> starts;
    std::vector<double> closes;
    for (int i = 0; i < cycles; ++i) {
        const Cycle c = OpenAndClose(system, keyBedPresent);
        starts.push_back(c.startMs);
        closes.push_back(c.closeMs);
    }
    std::printf("%-44s close median %7.2f ms  max %7.2f   (start-up median %7.2f ms, n=%d)\n", name,
                Median(closes), Max(closes), Median(starts), cycles);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int cycles = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;

    pm::fake::FakeMusicSystem fake;
    fake.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS);
    Report("scriptable port, no key bed", fake, false, cycles);
    Report("scriptable port, key bed scanning", fake, true, cycles);
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        const auto system = platform::CreateDefaultMusicSystem();
        Report("synthesizer on PulseAudio, key bed scanning", *system, true, cycles);
    }
    return 0;
}
