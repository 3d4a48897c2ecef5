// The recorder's costs and the player's timing:
//   - the recording step per note (the GUI or input thread's share of a recorded note);
//   - saving and opening a song of 1,000,000 events;
//   - with --timing: playback of a 10,000-event song on the real clock, each event's lateness
//     against its due time on the song's timeline (median, p99, worst) and the drift at the end.
//
//   build/bench/recorder/recorder_bench [--timing] [benchmark options]

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/CNoteRecorder.h"
#include "recorder/IPlaybackSink.h"
#include "recorder/IPlaybackTimer.h"
#include "recorder/IRecorderView.h"
#include "recorder/RecorderControl.h"
#include "recorder/SongFile.h"
#include "recorder/SongPlayer.h"

namespace {

namespace fs = std::filesystem;
using namespace recorder;
using Clock = std::chrono::steady_clock;

// A window that draws nothing: what is left is the recorder's own cost.
class QuietView final : public IRecorderView {
public:
    void EnableRecordButton(bool) override {}
    void EnablePlayButton(bool) override {}
    void EnableStopButton(bool) override {}
    void EnableNewItem(bool) override {}
    void TakeFocus() override {}
    void AllNotesOff() override {}
    void ShowMessage(std::string_view) override {}
    void PostProgressRange(int, int) override {}
    void PostProgressPos(std::uint32_t position) override { benchmark::DoNotOptimize(position); }
    void Post(std::function<void()>) override {}
    void SendMidiMsg(std::uint32_t) override {}
    void PressKey(std::uint8_t) override {}
    void ReleaseKey(std::uint8_t) override {}
    void AddMessage(std::uint8_t, std::uint8_t, int) override {}
};

void BM_RecordingStepPerNote(benchmark::State& state) {
    const SteadyClock clock;
    CNoteRecorder recorder(clock);
    std::recursive_mutex lock;
    QuietView view;
    SteadyPlaybackTimer timer;
    RecorderControl control(recorder, lock, view, timer);
    control.OnRecord();
    std::uint32_t note = 0;
    for (auto _ : state) {
        control.RecordMessage(0x007F0090u | ((36 + note++ % 49) << 8));
        if (recorder.GetCount() >= 1'000'000) {  // keep memory flat over long runs
            state.PauseTiming();
            control.OnRecord();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordingStepPerNote);

std::vector<NoteEvent> BigSong(std::size_t n) {
    std::vector<NoteEvent> events(n);
    for (std::size_t i = 0; i < n; ++i)
        events[i] = MakeNoteEvent(std::uint16_t((i % 2 ? 0x0000 : 0xFF00) | (36 + i % 49)),
                                  std::uint32_t(i % 250));
    return events;
}

fs::path BenchFile() {
    return fs::temp_directory_path() / ("recorder-bench-" + std::to_string(::getpid()) + ".tnd");
}

void BM_SaveMillionEvents(benchmark::State& state) {
    const std::vector<NoteEvent> events = BigSong(1'000'000);
    const fs::path path = BenchFile();
    SongFileHeader header;
    for (auto _ : state) {
        if (!WriteSongFile(path, header, events).Ok())
            state.SkipWithError("write failed");
    }
    fs::remove(path);
    state.SetBytesProcessed(state.iterations() * std::int64_t(events.size() * 4));
}
BENCHMARK(BM_SaveMillionEvents)->Unit(benchmark::kMillisecond);

void BM_OpenMillionEvents(benchmark::State& state) {
    const fs::path path = BenchFile();
    WriteSongFile(path, SongFileHeader{}, BigSong(1'000'000));
    for (auto _ : state) {
        LoadedSong song;
        if (!ReadSongFile(path, CNoteRecorder::kMaxEvents, &song).Ok())
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(song.events.data());
    }
    fs::remove(path);
    state.SetBytesProcessed(state.iterations() * 4'000'000);
}
BENCHMARK(BM_OpenMillionEvents)->Unit(benchmark::kMillisecond);

// Notes the real time of every send of a playback run.
class TimingSink final : public IPlaybackSink {
public:
    explicit TimingSink(std::size_t n) { sent.reserve(n); }
    void SendMidiMsg(std::uint32_t) override { sent.push_back(Clock::now()); }
    void ShowNoteOn(std::uint8_t, std::uint8_t) override {}
    void ShowNoteOff(std::uint8_t) override {}
    void PostProgress(std::uint32_t) override {}
    void PostPlaybackDone(std::uint64_t) override {}
    std::vector<Clock::time_point> sent;
};

// The pacing the player replaced, for comparison: each wait lasts the event's own delay from
// the moment it starts, so the time spent between waits adds up over the song.
class PerDelayTimer final : public IPlaybackTimer {
public:
    // The player asks once, when it starts: the timeline's origin.
    TimePoint Now() override { return m_previous = Clock::now(); }
    void WaitUntil(TimePoint deadline, const StopSignal& stop) override {
        const auto delay = deadline - m_previous;
        m_previous = deadline;
        stop.WaitUntil(Clock::now() + delay);
    }

private:
    TimePoint m_previous{};
};

void ReportPlayback(const char* pacing, IPlaybackTimer& timer) {
    // 10,000 events 0 to 3 ms apart (15 s): many short waits, where lost time would add up.
    constexpr std::size_t kEvents = 10'000;
    std::vector<NoteEvent> events(kEvents);
    for (std::size_t i = 0; i < kEvents; ++i)
        events[i] = MakeNoteEvent(std::uint16_t(0xFF3C), i == 0 ? 0 : std::uint32_t(i % 4));
    const SteadyClock clock;
    CNoteRecorder recorder(clock);
    recorder.Replace(events);
    std::recursive_mutex lock;
    TimingSink sink(kEvents);
    {
        SongPlayer player(recorder, lock, sink, timer, 1);
        player.Start();
        player.Join();
    }
    const Clock::time_point start = sink.sent.front();
    std::vector<double> lateness;
    std::uint64_t dueMs = 0;
    for (std::size_t i = 0; i < sink.sent.size(); ++i) {
        if (i > 0)
            dueMs += DelayOf(events[i]);
        const auto due = start + std::chrono::milliseconds(dueMs);
        lateness.push_back(std::chrono::duration<double, std::micro>(sink.sent[i] - due).count());
    }
    const double drift = lateness.back();
    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double q) { return sorted[std::size_t(q * double(sorted.size() - 1))]; };
    std::printf(
        "%s: %zu events over %.3f s: lateness per event median %.0f us, p99 %.0f us, "
        "worst %.0f us; drift at the last event %.0f us\n",
        pacing, sink.sent.size(), double(dueMs) / 1000, at(0.5), at(0.99), sorted.back(), drift);
}

int PlaybackTiming() {
    SteadyPlaybackTimer timeline;
    ReportPlayback("song timeline", timeline);
    PerDelayTimer perDelay;
    ReportPlayback("wait per delay", perDelay);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timing") == 0)
            return PlaybackTiming();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
