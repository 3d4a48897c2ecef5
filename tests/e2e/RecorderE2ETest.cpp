// The real program on a virtual display, playing into a real PulseAudio server: two notes
// recorded by mouse come back from Play at their pitches with their spacing kept.

#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/Player.h"
#include "tests/e2e/SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

using tests::fluidsynth::PitchHz;
using tests::fluidsynth::Rms;
constexpr int kRate = e2e::SoundCapture::kRate;

std::vector<float> Slice(const std::vector<float>& s, double from, double to) {
    const auto begin = std::size_t(std::max(0.0, from) * kRate);
    const auto end = std::min(s.size(), std::size_t(std::max(0.0, to) * kRate));
    return begin < end ? std::vector<float>(s.begin() + long(begin), s.begin() + long(end))
                       : std::vector<float>{};
}

// True when [from, to) holds a run of 32 or more exact zero samples: a dropout of the audio
// path, not a quiet moment of a note.
bool HasDropout(const std::vector<float>& s, double from, double to) {
    int run = 0;
    for (const float sample : Slice(s, from, to)) {
        run = sample == 0.0f ? run + 1 : 0;
        if (run >= 32)
            return true;
    }
    return false;
}

// Seconds into `s` of the first attack at or after `from` of a note of pitch `hz`: a 2.5 ms
// window louder than `floor` and four times the 20 ms before it, followed by 100 ms at that
// pitch (within 3%). Sound coming back after a dropout inside a sounding stretch is not an
// attack. -1 when there is none.
double Onset(const std::vector<float>& s, double from, double floor, double hz) {
    constexpr double kStep = 0.0025;
    for (double t = from; t + 0.1 < double(s.size()) / kRate; t += kStep) {
        const double level = Rms(Slice(s, t, t + kStep));
        if (level <= floor || level <= 4 * Rms(Slice(s, t - 0.02, t)))
            continue;
        if (HasDropout(s, t - 0.02, t) && Rms(Slice(s, t - 0.06, t - 0.02)) > floor)
            continue;
        if (std::abs(PitchHz(Slice(s, t + 0.01, t + 0.11), kRate) - hz) > hz * 0.03)
            continue;
        return t;
    }
    return -1;
}

class RecorderE2ETest : public e2e::PlayerTest {
protected:
    void Click(QPoint p) {
        player_->Xdotool(
            {"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
    }
    // Holds the mouse on `p` for `ms` milliseconds.
    void Hold(QPoint p, int ms) {
        player_->Xdotool(
            {"mousemove", QString::number(p.x()), QString::number(p.y()), "mousedown", "1"});
        QThread::msleep(ulong(ms));
        player_->Xdotool({"mouseup", "1"});
    }

    std::unique_ptr<e2e::Player> player_;
};

TEST_F(RecorderE2ETest, TwoNotesRecordedByMouseReplayAtTheirPitchesAndSpacing) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    player_ = std::make_unique<e2e::Player>();
    ASSERT_TRUE(player_->Started());
    ASSERT_FALSE(player_->WaitForWindow().isEmpty()) << "the main window did not appear";
    QThread::msleep(1500);  // the synthesizer's first activation

    // Under a menu bar of about 24 px: the recorder's buttons (template units × 1.75) and the
    // front of the A keys of the piano's second and third octaves (notes 57 and 69).
    const int x = player_->Origin().x();
    const int top = player_->Origin().y() + 24;
    const QPoint record{x + 461, top + 104};
    const QPoint stop{x + 529, top + 103};
    const QPoint play{x + 596, top + 103};
    const QPoint a3{x + 18 + 274, top + 152 + 65};
    const QPoint a4{x + 18 + 428, top + 152 + 65};

    Click(record);
    const double recordingFrom = capture.Now();
    Hold(a4, 400);
    QThread::msleep(500);
    Hold(a3, 400);
    QThread::msleep(300);
    Click(stop);
    QThread::msleep(1500);
    const double playingFrom = capture.Now();
    Click(play);
    QThread::msleep(2500);
    const std::vector<float> sound = capture.Between(0, capture.Now());

    constexpr double kFloor = 0.002;
    // Each attack is found with its pitch: A4 (440 Hz) first, then A3 (220 Hz).
    const double live1 = Onset(sound, recordingFrom, kFloor, 440);
    const double live2 = Onset(sound, live1 + 0.3, kFloor, 220);
    const double replay1 = Onset(sound, playingFrom, kFloor, 440);
    const double replay2 = Onset(sound, replay1 + 0.3, kFloor, 220);
    ASSERT_GT(live1, 0) << "A4 did not sound while recording";
    ASSERT_GT(live2, 0) << "A3 did not sound while recording";
    ASSERT_LT(live2, playingFrom);
    ASSERT_GT(replay1, 0) << "A4 did not sound again on Play";
    ASSERT_GT(replay2, 0) << "A3 did not sound again on Play";
    const double liveSpacing = live2 - live1;
    const double replaySpacing = replay2 - replay1;
    std::printf("note spacing: played %.1f ms, replayed %.1f ms\n", liveSpacing * 1000,
                replaySpacing * 1000);
    // Both are measured on the sink, so each carries the audio path's jitter.
    EXPECT_NEAR(replaySpacing, liveSpacing, 0.015);

    player_->Close();
    ASSERT_TRUE(player_->Process().waitForFinished(10000)) << "the program did not end on close";
    EXPECT_EQ(player_->Process().exitCode(), 0);
}

}  // namespace
