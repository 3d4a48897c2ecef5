// Sustained rows per second into the message list from a worker thread, and what that costs
// the GUI thread: a 1 ms precise timer records how late each of its ticks comes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

#include "performance/CMidiListCtrl.h"

namespace {

using Clock = std::chrono::steady_clock;
using performance::BYTE;
using performance::CMidiListCtrl;

constexpr auto kRunTime = std::chrono::seconds(2);

struct RunResult {
    double rowsPerSecond = 0;  // rows applied by the GUI thread during the run
    double p50Ms = 0;          // timer lateness percentiles
    double p99Ms = 0;
    double maxMs = 0;
    double backlogCells = 0;  // cells still queued when the producer stopped
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const auto n = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n), values.end());
    return values[n];
}

RunResult RunAtRate(int rowsPerSecond) {
    CMidiListCtrl list;
    list.resize(660, 180);
    if (qEnvironmentVariableIntValue("BENCH_HIDDEN") == 0) {
        list.show();
    }
    QCoreApplication::processEvents();

    std::atomic<long> applied = 0;
    QObject::connect(list.model(), &QAbstractItemModel::rowsInserted,
                     [&applied](const QModelIndex&, int first, int last) {
                         applied.fetch_add(last - first + 1, std::memory_order_relaxed);
                     });

    std::vector<double> lateness;
    lateness.reserve(4096);
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    Clock::time_point lastTick = Clock::now();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const double late = std::chrono::duration<double, std::milli>(now - lastTick).count() - 1.0;
        lateness.push_back(std::max(0.0, late));
        lastTick = now;
    });

    QEventLoop loop;
    const Clock::time_point start = Clock::now();
    lastTick = start;
    probe.start();
    // Rate 0 adds no rows: the timer's own lateness on this machine, the baseline.
    std::thread producer([&] {
        if (rowsPerSecond == 0) {
            std::this_thread::sleep_for(kRunTime);
        }
        const auto period = std::chrono::duration<double>(1.0 / std::max(rowsPerSecond, 1));
        for (long k = 0; rowsPerSecond > 0; ++k) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(period * k);
            if (due - start >= kRunTime) {
                break;
            }
            std::this_thread::sleep_until(due);
            list.AddMessage(static_cast<BYTE>(k % 128), static_cast<BYTE>(k % 128),
                            static_cast<int>(k % 5));
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The GUI thread sleeps in its event loop between events, as in the program.
    loop.exec();
    producer.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    probe.stop();

    RunResult result;
    result.rowsPerSecond = static_cast<double>(applied.load()) / elapsed;
    result.backlogCells = static_cast<double>(list.GetPendingCount());
    result.p50Ms = Percentile(lateness, 0.50);
    result.p99Ms = Percentile(lateness, 0.99);
    result.maxMs = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
    while (list.GetPendingCount() != 0) {
        QCoreApplication::processEvents();
    }
    return result;
}

void BM_MidiListRowsFromWorker(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    RunResult result;
    for (auto _ : state) {
        result = RunAtRate(rate);
        state.SetIterationTime(std::chrono::duration<double>(kRunTime).count());
    }
    state.counters["rows_per_s"] = result.rowsPerSecond;
    state.counters["lat_p50_ms"] = result.p50Ms;
    state.counters["lat_p99_ms"] = result.p99Ms;
    state.counters["lat_max_ms"] = result.maxMs;
    state.counters["backlog_cells"] = result.backlogCells;
}
BENCHMARK(BM_MidiListRowsFromWorker)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
