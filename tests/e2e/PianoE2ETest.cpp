// The real program on a virtual display, playing into a real PulseAudio server: the window's
// title and place as the X server has them, a mouse press on a key sounds that note at its pitch
// on the sink, the release ends it, a drag from outside the keyboard plays the key it enters,
// and closing the window ends the program with 0.

#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>
#include <string>
#include <vector>

#include "tests/e2e/Player.h"
#include "tests/e2e/SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

using PianoE2ETest = e2e::PlayerTest;

void CloseAndExpectExitZero(e2e::Player& player) {
    player.Close();
    ASSERT_TRUE(player.Process().waitForFinished(10000)) << "the program did not end on close";
    EXPECT_EQ(player.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.Process().exitCode(), 0);
}

TEST_F(PianoE2ETest, MousePlaysKeysAtTheirPitchAndCloseExitsZero) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    e2e::Player player;
    ASSERT_TRUE(player.Started());
    ASSERT_FALSE(player.WaitForWindow().isEmpty()) << "the main window did not appear";
    // No key bed here; the title is the program's own text, with nothing appended.
    EXPECT_EQ(player.Title(), "键乐坊 -- 未插设备");
    // 675 × 320, centred on the 1024 × 768 screen for that size.
    const QPoint origin = player.Origin();
    EXPECT_EQ(player.Size(), QSize(675, 320));
    EXPECT_EQ(origin, QPoint((1024 - 675) / 2, (768 - 320) / 2));
    QThread::msleep(1500);  // the synthesizer's first activation

    // The piano sits at (18, 152) below the menu bar (about 24 px); the fronts of the white
    // keys of its third octave lie at y 50..79 of the piano: A (note 69, 440 Hz) spans
    // x 419..438, B (note 71, 493.88 Hz) x 440..459.
    const int pianoX = origin.x() + 18;
    const int pianoY = origin.y() + 24 + 152;
    auto at = [](int x, int y) { return QStringList{QString::number(x), QString::number(y)}; };

    const double before = capture.Now();
    player.Xdotool(QStringList{"mousemove"} + at(pianoX + 428, pianoY + 65) +
                   QStringList{"mousedown", "1"});
    const double pressed = capture.Now();
    QThread::msleep(900);
    player.Xdotool({"mouseup", "1"});
    const double released = capture.Now();
    QThread::msleep(1800);

    const double silence = tests::fluidsynth::Rms(capture.Between(before - 0.5, before));
    const std::vector<float> held = capture.Between(pressed + 0.15, released - 0.05);
    const double heldLevel = tests::fluidsynth::Rms(held);
    const double afterLevel =
        tests::fluidsynth::Rms(capture.Between(released + 1.2, released + 1.6));
    EXPECT_LT(silence, 1e-3);
    EXPECT_GT(heldLevel, 0.002) << "no sound while the key was held";
    EXPECT_NEAR(tests::fluidsynth::PitchHz(held, e2e::SoundCapture::kRate), 440.0, 440.0 * 0.02);
    EXPECT_LT(afterLevel, heldLevel * 0.1) << "the note did not end with the release";

    // A press on the dialog below the keyboard, then a slide up onto the B key.
    player.Xdotool(QStringList{"mousemove"} + at(pianoX + 449, pianoY + 95) +
                   QStringList{"mousedown", "1"});
    player.Xdotool(QStringList{"mousemove"} + at(pianoX + 449, pianoY + 88));
    player.Xdotool(QStringList{"mousemove"} + at(pianoX + 449, pianoY + 65));
    const double slidIn = capture.Now();
    QThread::msleep(900);
    player.Xdotool({"mouseup", "1"});
    const double slidRelease = capture.Now();
    QThread::msleep(300);
    const std::vector<float> slid = capture.Between(slidIn + 0.15, slidRelease - 0.05);
    EXPECT_GT(tests::fluidsynth::Rms(slid), 0.002) << "a drag onto the keys played nothing";
    EXPECT_NEAR(tests::fluidsynth::PitchHz(slid, e2e::SoundCapture::kRate), 493.88, 493.88 * 0.02);

    CloseAndExpectExitZero(player);
}

// With a scale factor of 2 the 1024 × 768 screen is 512 × 384 logical pixels, narrower than the
// window: its top-left corner (title and menu bar) stays on the screen, its height centred.
TEST_F(PianoE2ETest, ScaledWindowKeepsItsMenuBarOnTheScreen) {
    e2e::Player player({}, {"QT_SCALE_FACTOR=2"});
    ASSERT_TRUE(player.Started());
    ASSERT_FALSE(player.WaitForWindow().isEmpty()) << "the main window did not appear";
    EXPECT_EQ(player.Size().width(), 2 * 675);
    EXPECT_EQ(player.Origin(), QPoint(0, (768 - 2 * 320) / 2));
    CloseAndExpectExitZero(player);
}

}  // namespace
