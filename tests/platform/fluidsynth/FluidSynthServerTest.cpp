// The built-in synthesizer's PulseAudio output against a server of the test's own: the
// stream pauses while nothing sounds and the next note is still heard without waiting behind
// queued silence, and a server killed while a note sounds is noticed, logged, and reconnected
// within the back-off cap once it is back, however long it was gone.

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/fluidsynth/RetryDelay.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"
#include "tests/platform/fluidsynth/PulseServer.h"

namespace tests::fluidsynth {
namespace {

using platform::fluidsynth::AudioOutputStats;

// Debug-log lines written while an instance lives.
class LogCapture {
public:
    LogCapture() {
        std::lock_guard lock(mutex_);
        lines_.clear();
        // The debug category is off by default: it is switched on while lines are captured.
        QLoggingCategory::setFilterRules(QStringLiteral("tunestead.debug=true"));
        previous_ = qInstallMessageHandler(&LogCapture::Handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules({});
    }

    bool Contains(const std::string& words) const {
        std::lock_guard lock(mutex_);
        for (const std::string& line : lines_)
            if (line.find(words) != std::string::npos)
                return true;
        return false;
    }

private:
    static void Handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.toStdString());
    }

    static inline std::mutex mutex_;
    static inline std::vector<std::string> lines_;
    QtMessageHandler previous_ = nullptr;
};

// Waits up to `seconds` for `condition`; its last value.
bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Reads the monitor until the A at 440 Hz is heard (up to 3 s); its pitch, 0 if unheard.
double HeardPitch(PulseMonitor& monitor) {
    const int rate = monitor.SampleRate();
    for (int block = 0; block < 30; ++block) {
        const auto samples = monitor.Read(std::size_t(rate / 10));
        std::vector<float> left;
        for (std::size_t i = 0; i < samples.size(); i += 2)
            left.push_back(samples[i] / 32768.0f);
        if (Rms(left) > 0.01)
            return PitchHz(left, rate);
    }
    return 0;
}

// The loudest sample, of 32767.
int Peak(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (std::int16_t sample : samples)
        peak = std::max(peak, std::abs(int(sample)));
    return peak;
}

class FluidSynthServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PulseServer::Available())
            GTEST_SKIP() << "no pulseaudio program";
        server_.emplace();
        ASSERT_TRUE(server_->Start()) << "see " << server_->RuntimePath() << "/log";
        FluidSynthBackend::Options options;
        options.audioDrivers = {"pulseaudio"};
        backend_.emplace(options);
        DMUS_PORTPARAMS8 params = Params(DMUS_PORTPARAMS_EFFECTS, 0, 0, DMUS_EFFECT_NONE);
        ASSERT_EQ(backend_->CreatePort(FluidSynthBackend::kPortGuid, &params, &port_), S_OK);
        ASSERT_EQ(port_->Activate(TRUE), S_OK);
    }

    void TearDown() override {
        if (port_)
            port_->Activate(FALSE);
    }

    HRESULT Play(DWORD message) {
        EventBuffer buffer(64);
        HRESULT hr = buffer.PackStructured(0, 0, message);
        return Succeeded(hr) ? port_->PlayBuffer(buffer) : hr;
    }

    AudioOutputStats Stats() const { return backend_->LastPortOutputStats(); }

    DWORD Voices() const {
        DMUS_SYNTHSTATS8 stats;
        stats.dwSize = sizeof stats;
        return port_->GetRunningStats(&stats) == S_OK ? stats.dwVoices : ~DWORD(0);
    }

    std::optional<PulseServer> server_;
    std::optional<FluidSynthBackend> backend_;
    std::unique_ptr<IMusicPort> port_;
};

TEST_F(FluidSynthServerTest, ServerGrantsTheQueueSizedByThePriority) {
    const FluidSynthBackend::Options& options = backend_->GetOptions();
    const AudioOutputStats stats = Stats();
    // A real-time thread gets the configured queue; one at normal priority the longer one.
    const int periods = stats.realtime ? options.periods : options.normalPeriods;
    EXPECT_LE(stats.targetFrames, std::uint32_t(options.periodSize * periods));
    EXPECT_GT(stats.targetFrames, std::uint32_t(options.periodSize * (periods - 1)) / 2)
        << "the server cut the queue to less than half";
    EXPECT_LE(stats.requestFrames, stats.targetFrames);
    EXPECT_GT(stats.requestFrames, 0u);
}

// A note after a pause must not wait behind the silence the server still holds, so the output
// drops that silence; a note among sounding ones must never drop sound.
TEST_F(FluidSynthServerTest, QueuedSilenceIsDroppedForTheFirstNoteButSoundNever) {
    ASSERT_TRUE(WaitFor([&] { return Stats().corked; }, 5));
    PulseMonitor monitor(48000, 1024);
    ASSERT_TRUE(monitor.Connected());
    monitor.Read(48000 / 2);

    const std::uint64_t paused = Stats().silenceDrops;
    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_EQ(Stats().silenceDrops, paused + 1) << "the paused stream kept its queue";
    EXPECT_NEAR(HeardPitch(monitor), 440.0, 440.0 * 0.02);

    // Among sounding notes: nothing is dropped.
    ASSERT_EQ(Play(Msg(0x90, 76, 100)), S_OK);
    ASSERT_EQ(Play(Msg(0x80, 76, 0)), S_OK);
    EXPECT_EQ(Stats().silenceDrops, paused + 1) << "sounding notes were cut";

    // Rung out, but not yet paused: the queue holds only silence, which the next note drops.
    ASSERT_EQ(Play(Msg(0xB0, 120, 0)), S_OK);
    ASSERT_TRUE(WaitFor([&] { return Voices() == 0; }, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // far longer than the queue
    ASSERT_FALSE(Stats().corked) << "paused too early to tell";
    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_EQ(Stats().silenceDrops, paused + 2) << "the silence queued after the last note stayed";

    // Released and faded below hearing, though its voice has not ended: what is queued can
    // no longer be heard, and the next note drops it too.
    ASSERT_EQ(Play(Msg(0x80, 69, 0)), S_OK);
    ASSERT_EQ(Play(Msg(0x90, 69, 20)), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(Play(Msg(0x80, 69, 0)), S_OK);
    PulseMonitor fresh(48000, 256);  // the first monitor holds what was played a while ago
    ASSERT_TRUE(fresh.Connected());
    int quietBlocks = 0;
    for (int reads = 0; quietBlocks < 4 && reads < 2000; ++reads)
        quietBlocks = Peak(fresh.Read(256)) <= 2 ? quietBlocks + 1 : 0;
    ASSERT_EQ(quietBlocks, 4) << "the released note never faded";
    ASSERT_GT(Voices(), 0u) << "the voice ended first: nothing to tell";
    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_EQ(Stats().silenceDrops, paused + 3) << "an inaudible tail held the note back";
}

TEST_F(FluidSynthServerTest, SilencePausesTheStreamAndTheNextNoteIsHeard) {
    // Nothing played: the output pauses itself.
    ASSERT_TRUE(WaitFor([&] { return Stats().corked; }, 5));
    PulseMonitor monitor(48000, 1024);
    ASSERT_TRUE(monitor.Connected());
    monitor.Read(48000 / 2);  // a new record stream may start late

    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_FALSE(Stats().corked);
    EXPECT_NEAR(HeardPitch(monitor), 440.0, 440.0 * 0.02);
    EXPECT_FALSE(Stats().corked) << "paused while the note sounds";

    // Released and rung out: paused again.
    ASSERT_EQ(Play(Msg(0x80, 69, 0)), S_OK);
    EXPECT_TRUE(WaitFor([&] { return Stats().corked; }, 10));
}

TEST_F(FluidSynthServerTest, LostServerIsLoggedAndTheNextNoteAfterItsRestartIsHeard) {
    LogCapture log;
    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    {
        PulseMonitor monitor(48000, 1024);
        ASSERT_TRUE(monitor.Connected());
        monitor.Read(48000 / 2);
        ASSERT_NEAR(HeardPitch(monitor), 440.0, 440.0 * 0.02) << "not heard before the kill";
    }

    server_->Kill();
    ASSERT_TRUE(WaitFor([&] { return !Stats().connected; }, 10)) << "the loss went unnoticed";
    EXPECT_TRUE(log.Contains("reconnecting"));
    // Events played meanwhile are taken, and the synth keeps time: the released note ends
    // instead of holding its voices until the server is back.
    EXPECT_EQ(Play(Msg(0x80, 69, 0)), S_OK);
    EXPECT_TRUE(WaitFor([&] { return Voices() == 0; }, 10)) << "voices held during the outage";

    // A long outage: the attempts back off until they are the cap apart, and no further, so the
    // returning server is reached within the cap however long it was gone.
    const auto cap = platform::fluidsynth::kServerRetryCap.count();
    ASSERT_TRUE(WaitFor([&] { return Stats().longestRetryWaitMs >= cap; }, 15))
        << "the back-off never reached its cap";
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * cap));
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(WaitFor([&] { return Stats().connected; }, 15)) << "never reconnected";
    EXPECT_EQ(Stats().longestRetryWaitMs, cap) << "waited longer than the cap between attempts";
    EXPECT_EQ(Stats().reconnections, 1u);
    EXPECT_TRUE(log.Contains("reconnected"));

    PulseMonitor monitor(48000, 1024);
    ASSERT_TRUE(monitor.Connected());
    monitor.Read(48000 / 2);
    ASSERT_EQ(Play(Msg(0x90, 69, 127)), S_OK);
    EXPECT_NEAR(HeardPitch(monitor), 440.0, 440.0 * 0.02) << "silent after the reconnection";
}

}  // namespace
}  // namespace tests::fluidsynth
