// The real program on a virtual display, playing into a real PulseAudio server: a mouse press
// on a key sounds that note at its pitch on the sink, the release ends it, and closing the
// window ends the program with 0 at once.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// Runs a command and returns its standard output, trimmed.
QString RunTool(const QString& program, const QStringList& arguments, const QString& display) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Asks the window to close the way a window manager's close button does.
void SendDeleteWindow(const std::string& display, xcb_window_t window) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    auto atom = [connection](const char* name) {
        auto cookie = xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // A checked request waits for the server's answer: the X server drops requests that are
    // still unread when their client disconnects.
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    std::free(xcb_request_check(connection, cookie));
    xcb_disconnect(connection);
}

class PianoE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = Env("TS_XVFB_DISPLAY");
        if (display_.empty() || Env("PULSE_SERVER").empty()) {
            if (!Env("CI").empty())
                FAIL() << "CI must run this with ./test, which starts Xvfb and PulseAudio";
            GTEST_SKIP() << "needs ./test's Xvfb and PulseAudio (TS_XVFB_DISPLAY, PULSE_SERVER)";
        }
    }

    std::string display_;
};

TEST_F(PianoE2ETest, MousePressSoundsTheKeyAtItsPitchAndCloseExitsZero) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display_));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start(QStringLiteral(TUNESTEAD_BINARY), {});
    ASSERT_TRUE(player.waitForStarted(5000));

    const QString display = QString::fromStdString(display_);
    const QString window =
        RunTool(QStringLiteral("xdotool"),
                {"search", "--sync", "--onlyvisible", "--name", "键乐坊"}, display)
            .split('\n')
            .value(0);
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    QThread::msleep(1500);  // the synthesizer's first activation

    const QString geometry =
        RunTool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, display);
    int x = 0;
    int y = 0;
    for (const QString& line : geometry.split('\n')) {
        if (line.startsWith("X="))
            x = line.mid(2).toInt();
        if (line.startsWith("Y="))
            y = line.mid(2).toInt();
    }
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
    SendDeleteWindow(display_, xcb_window_t(window.toULong()));
    ASSERT_TRUE(player.waitForFinished(5000)) << "the program did not end on close";
    EXPECT_LT(closing.elapsed(), 2000);
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);
}

}  // namespace
