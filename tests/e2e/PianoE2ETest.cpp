// The real program on a virtual display, playing into a real PulseAudio server: a mouse press
// on a key sounds that note at its pitch on the sink, the release ends it, and closing the
// window ends the program with 0 at once.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tests/e2e/Player.h"
#include "tests/e2e/SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

using PianoE2ETest = e2e::PlayerTest;

TEST_F(PianoE2ETest, MousePressSoundsTheKeyAtItsPitchAndCloseExitsZero) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    e2e::Player player;
    ASSERT_TRUE(player.Started());
    ASSERT_FALSE(player.WaitForWindow().isEmpty()) << "the main window did not appear";
    QThread::msleep(1500);  // the synthesizer's first activation
    const int x = player.Origin().x();
    const int y = player.Origin().y();
    // The piano sits at (18, 152) below the menu bar (about 24 px); the front of the A key
    // of its third octave (note 69, 440 Hz) spans x 419..438 and y 50..79 of the piano.
    const int keyX = x + 18 + 428;
    const int keyY = y + 24 + 152 + 65;

    const double before = capture.Now();
    player.Xdotool({"mousemove", QString::number(keyX), QString::number(keyY), "mousedown", "1"});
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

    QElapsedTimer closing;
    closing.start();
    player.Close();
    ASSERT_TRUE(player.Process().waitForFinished(5000)) << "the program did not end on close";
    EXPECT_LT(closing.elapsed(), 2000);
    EXPECT_EQ(player.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.Process().exitCode(), 0);
}

}  // namespace
