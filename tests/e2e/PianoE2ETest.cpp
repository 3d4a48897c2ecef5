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

#include "DesktopTools.h"
#include "SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

using e2e::RunTool;
using e2e::SendDeleteWindow;

using PianoE2ETest = e2e::DesktopTest;

TEST_F(PianoE2ETest, MousePressSoundsTheKeyAtItsPitchAndCloseExitsZero) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    QProcess player;
    const QString display = QString::fromStdString(display_);
    const QString window =
        e2e::StartPlayerWindow(player, QStringLiteral(TUNESTEAD_BINARY), display);
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";

    const auto [x, y] = e2e::WindowOrigin(window, display);
    // The piano sits at (18, 152) below the menu bar (about 24 px); the front of the A key
    // of its third octave (note 69, 440 Hz) spans x 419..438 and y 50..79 of the piano.
    const int keyX = x + 18 + 428;
    const int keyY = y + 24 + 152 + 65;

    const double before = capture.Now();
    RunTool(QStringLiteral("xdotool"),
            {"mousemove", QString::number(keyX), QString::number(keyY), "mousedown", "1"}, display);
    const double pressed = capture.Now();
    QThread::msleep(900);
    RunTool(QStringLiteral("xdotool"), {"mouseup", "1"}, display);
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
    SendDeleteWindow(display_, window.toULong());
    ASSERT_TRUE(player.waitForFinished(5000)) << "the program did not end on close";
    EXPECT_LT(closing.elapsed(), 2000);
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);
}

}  // namespace
