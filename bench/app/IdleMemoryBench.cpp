// Resident memory of the real program left idle: no key bed, no MIDI keyboard, nobody at the
// window. Samples VmRSS from /proc every few seconds and reports the growth rate over the
// second half of the run against the size in the first minute, the baseline of the same run. Needs
// an X display and an audio server (DISPLAY or TS_XVFB_DISPLAY, PULSE_SERVER, as scripts/servers.sh
// starts them); JACK may run or not.
//   tunestead-bench-idle-memory [minutes=6] [seconds between samples=10]
// TS_PLAYER_BINARY names another build of the program to measure.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// VmRSS of `pid` in KiB, or -1 when it has gone.
long ResidentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct Sample {
    double minutes;
    long kib;
};

// Least-squares slope in KiB per minute.
double Slope(const std::vector<Sample>& samples) {
    const double n = double(samples.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        sx += s.minutes;
        sy += double(s.kib);
        sxx += s.minutes * s.minutes;
        sxy += s.minutes * double(s.kib);
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 6.0;
    const int every = argc > 2 ? std::atoi(argv[2]) : 10;
    QString display = qEnvironmentVariable("TS_XVFB_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty() || qEnvironmentVariableIsEmpty("PULSE_SERVER") || minutes < 2 ||
        every < 1) {
        std::fprintf(stderr, "needs a display and PULSE_SERVER; minutes >= 2\n");
        return 2;
    }
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start(qEnvironmentVariable("TS_PLAYER_BINARY", QStringLiteral(TUNESTEAD_BINARY)), {});
    if (!player.waitForStarted(5000)) {
        std::fprintf(stderr, "the player did not start\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<Sample> samples;
    std::printf("minute  VmRSS KiB\n");
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(every));
        const double at =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;
        const long kib = ResidentKiB(player.processId());
        if (kib < 0) {
            std::fprintf(stderr, "the player ended after %.1f min\n", at);
            return 1;
        }
        samples.push_back({at, kib});
        std::printf("%6.2f  %9ld\n", at, kib);
        std::fflush(stdout);
        if (at >= minutes)
            break;
    }
    player.terminate();
    if (!player.waitForFinished(5000)) {
        player.kill();
        player.waitForFinished(5000);
    }

    // Baseline: the median size in the first minute's second half, once start-up has settled.
    std::vector<long> settled;
    std::vector<Sample> later;
    for (const Sample& s : samples) {
        if (s.minutes >= 0.5 && s.minutes <= 1.0)
            settled.push_back(s.kib);
        if (s.minutes >= minutes / 2)
            later.push_back(s);
    }
    if (settled.empty())
        settled.push_back(samples.front().kib);
    std::nth_element(settled.begin(), settled.begin() + long(settled.size() / 2), settled.end());
    const long baseline = settled[settled.size() / 2];
    const double slope = Slope(later);
    std::printf("baseline (first minute, median): %ld KiB\n", baseline);
    std::printf("last sample: %ld KiB at %.1f min (%+.2f %% of the baseline)\n", samples.back().kib,
                samples.back().minutes,
                100.0 * double(samples.back().kib - baseline) / double(baseline));
    std::printf("growth over the second half: %.1f KiB/min (%.3f %% of the baseline per min)\n",
                slope, 100.0 * slope / double(baseline));
    return 0;
}
