// The real program on a virtual display, playing into a real PulseAudio server: the window's
// title and place as the X server has them, a mouse press on a key sounds that note at its pitch
// on the sink, the release ends it, a drag from outside the keyboard plays the key it enters,
// and closing the window ends the program with 0. Where the server is PipeWire, the program's
// sound is a native PipeWire stream of its own asking for 3 ms or less.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// Output of a program run to its end (at most 10 s); empty when it cannot run.
QByteArray OutputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return process.readAllStandardOutput();
}

TEST_F(PianoE2ETest, OnPipeWireTheSoundIsANativeStreamAskingForAtMost3Ms) {
    if (!OutputOf("pactl", {"info"}).contains("on PipeWire"))
        GTEST_SKIP() << "the audio server is not PipeWire";
    e2e::Player player;
    ASSERT_TRUE(player.Started());
    const QPoint origin = [&] {
        EXPECT_FALSE(player.WaitForWindow().isEmpty());
        return player.Origin();
    }();
    QThread::msleep(1500);  // the synthesizer's first activation
    // A held key keeps the stream running while the graph is read.
    player.Xdotool({"mousemove", QString::number(origin.x() + 18 + 428),
                    QString::number(origin.y() + 24 + 152 + 65), "mousedown", "1"});
    QThread::msleep(300);
    const QJsonArray objects = QJsonDocument::fromJson(OutputOf("pw-dump", {})).array();
    player.Xdotool({"mouseup", "1"});
    ASSERT_FALSE(objects.isEmpty()) << "pw-dump gave nothing";

    int streams = 0;
    for (const QJsonValue& value : objects) {
        const QJsonObject object = value.toObject();
        const QJsonObject props = object["info"].toObject()["props"].toObject();
        if (object["type"].toString() != "PipeWire:Interface:Node" ||
            props["application.name"].toString() != "Tunestead")
            continue;
        ++streams;
        EXPECT_NE(props["client.api"].toString(), "pipewire-pulse")
            << "played through the PulseAudio emulation";
        // "frames/rate"
        const QStringList latency = props["node.latency"].toString().split('/');
        ASSERT_EQ(latency.size(), 2) << "no latency asked for";
        EXPECT_LE(1000.0 * latency[0].toDouble() / latency[1].toDouble(), 3.0);
    }
    EXPECT_EQ(streams, 1) << "the player's stream is not in the graph";
    CloseAndExpectExitZero(player);
}

}  // namespace
