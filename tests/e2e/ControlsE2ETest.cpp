// The real program on a virtual display with PulseAudio: the volume slider moves the sink's
// volume (a note after dragging it to the bottom is silent, and sounds again at the top), the
// pitch slider moves a clicked key by a semitone, and Reduce/Expand gives the three sizes.

#include <gtest/gtest.h>

#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "tests/e2e/Player.h"
#include "tests/e2e/SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/mixer/SinkVolume.h"

namespace {

using tests::fluidsynth::PitchHz;
using tests::fluidsynth::Rms;

using tests::mixer::SetSinkVolume;
using tests::mixer::SinkVolume;

// The pitch of a held note as most of its 200 ms windows read it, so that a short gap in the
// sound on a busy machine does not decide the reading.
double MedianPitch(const std::vector<float>& held) {
    const std::size_t window = e2e::SoundCapture::kRate / 5;
    std::vector<double> pitches;
    for (std::size_t at = 0; at + window <= held.size(); at += window / 2) {
        const std::vector<float> part(held.begin() + long(at), held.begin() + long(at + window));
        pitches.push_back(PitchHz(part, e2e::SoundCapture::kRate));
    }
    if (pitches.empty())
        return 0;
    std::sort(pitches.begin(), pitches.end());
    return pitches[pitches.size() / 2];
}

class ControlsE2ETest : public e2e::PlayerTest {
protected:
    void SetUp() override {
        e2e::PlayerTest::SetUp();
        if (!IsSkipped() && !HasFailure())
            SetSinkVolume(65536);
    }
    // Other tests listen to the sink after its volume: leave it at full.
    void TearDown() override {
        if (e2e::HaveTestServers())
            SetSinkVolume(65536);
    }

    // Starts the player and waits for its window and its synthesizer.
    void Start() {
        player = std::make_unique<e2e::Player>();
        ASSERT_TRUE(player->Started());
        ASSERT_FALSE(player->WaitForWindow().isEmpty()) << "the main window did not appear";
        QThread::msleep(1500);  // the synthesizer's first activation
        origin = player->Origin();
        // The client area starts below the menu bar: the window is 320 px high and its
        // client 308 dialog units would be 539; the menu bar is what the rest is.
        menuBar = 24;
    }
    // A point of the client area, in pixels from its top-left corner, on the screen.
    QPoint At(int x, int y) const { return origin + QPoint(x, menuBar + y); }
    void Mouse(const QStringList& steps) { player->Xdotool(steps); }
    void MoveTo(QPoint p) { Mouse({"mousemove", QString::number(p.x()), QString::number(p.y())}); }

    // Holds the piano's key at client (x, y) for `ms`; the captured stretch while it sounded.
    std::vector<float> HoldKey(e2e::SoundCapture& capture, QPoint key, int ms) {
        MoveTo(key);
        Mouse({"mousedown", "1"});
        const double pressed = capture.Now();
        QThread::msleep(ms);
        Mouse({"mouseup", "1"});
        const double released = capture.Now();
        QThread::msleep(600);
        return capture.Between(pressed + 0.15, released - 0.05);
    }

    std::unique_ptr<e2e::Player> player;
    QPoint origin;
    int menuBar = 24;
};

// The piano control is at (18, 152) of the client area; the A of its third octave (note 69
// at the start-up range) is at x 419..438, its front at y 50..79 of the piano.
const QPoint kKeyA(18 + 428, 152 + 65);
// The volume slider (211, 18, 23, 60 dialog units) and the pitch slider (160, 32, 16, 46).
const QPoint kVolumeTop(369 + 20, 32 + 6);
const QPoint kVolumeBottom(369 + 20, 32 + 150);
const QPoint kPitchGrooveTop(280 + 14, 56 + 3);

TEST_F(ControlsE2ETest, VolumeSliderAtTheBottomSilencesAndAtTheTopRestores) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok());
    QThread::msleep(1000);
    Start();

    // Drag the thumb from the top (full volume) to below the groove's end.
    MoveTo(At(kVolumeTop.x(), kVolumeTop.y()));
    Mouse({"mousedown", "1"});
    MoveTo(At(kVolumeTop.x(), kVolumeTop.y() + 40));
    MoveTo(At(kVolumeBottom.x(), kVolumeBottom.y()));
    Mouse({"mouseup", "1"});
    QThread::msleep(300);
    EXPECT_EQ(SinkVolume(), 0);
    const double silent = Rms(HoldKey(capture, At(kKeyA.x(), kKeyA.y()), 700));

    // And back to the top.
    MoveTo(At(kVolumeBottom.x(), 32 + 100));
    Mouse({"mousedown", "1"});
    MoveTo(At(kVolumeTop.x(), 32 + 60));
    MoveTo(At(kVolumeTop.x(), 0));
    Mouse({"mouseup", "1"});
    QThread::msleep(300);
    EXPECT_EQ(SinkVolume(), 65536);
    const double loud = Rms(HoldKey(capture, At(kKeyA.x(), kKeyA.y()), 700));

    EXPECT_LT(silent, 1e-4) << "a note sounded with the volume at the bottom";
    EXPECT_GT(loud, 0.002) << "no sound with the volume back at the top";
    player->Close();
    EXPECT_TRUE(player->Process().waitForFinished(5000));
}

TEST_F(ControlsE2ETest, PitchSliderMovesAClickedKeyUpASemitone) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok());
    QThread::msleep(1000);
    Start();

    const std::vector<float> before = HoldKey(capture, At(kKeyA.x(), kKeyA.y()), 1200);
    // A click on the groove above the thumb: one semitone up.
    MoveTo(At(kPitchGrooveTop.x(), kPitchGrooveTop.y()));
    Mouse({"click", "1"});
    QThread::msleep(300);
    const std::vector<float> after = HoldKey(capture, At(kKeyA.x(), kKeyA.y()), 1200);

    EXPECT_NEAR(MedianPitch(before), 440.0, 440.0 * 0.02);
    EXPECT_NEAR(MedianPitch(after), 466.16, 466.16 * 0.02);
    player->Close();
    EXPECT_TRUE(player->Process().waitForFinished(5000));
}

TEST_F(ControlsE2ETest, ReduceExpandGivesTheThreeWindowSizes) {
    Start();
    const QPoint position = player->Origin();
    EXPECT_EQ(player->Size(), QSize(675, 320));
    // The button lies below the window's edge: the window menu (Alt+Space) holds its command.
    MoveTo(At(300, 100));
    Mouse({"click", "1"});
    player->Xdotool({"key", "alt+space"});
    QThread::msleep(300);
    player->Xdotool({"key", "Return"});
    QThread::msleep(300);
    EXPECT_EQ(player->Size(), QSize(677, 380));
    player->Xdotool({"key", "alt+space"});
    QThread::msleep(300);
    player->Xdotool({"key", "Return"});
    QThread::msleep(300);
    EXPECT_EQ(player->Size(), QSize(677, 590));
    // On the 768-pixel-high screen the expanded window moves up just enough to end at its
    // bottom edge, so the message list stays on the screen.
    const QPoint expanded(position.x(), 768 - 590);
    EXPECT_EQ(player->Origin(), expanded);
    origin = expanded;
    // Now the button itself is on the screen: Reduce << at (303, 245) dialog units.
    MoveTo(At(530 + 40, 429 + 12));
    Mouse({"click", "1"});
    QThread::msleep(300);
    EXPECT_EQ(player->Size(), QSize(677, 380));
    EXPECT_EQ(player->Origin(), expanded);  // a smaller window stays where it is
    player->Close();
    EXPECT_TRUE(player->Process().waitForFinished(5000));
    EXPECT_EQ(player->Process().exitCode(), 0);
}

}  // namespace
