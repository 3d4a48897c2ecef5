// The real program on a virtual display, playing into a real PulseAudio server: the window's
// title and place as the X server has them, a mouse press on a key sounds that note at its pitch
// on the sink, the release ends it, a drag from outside the keyboard plays the key it enters,
// and closing the window ends the program with 0.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

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

struct Geometry {
    int x = -1;
    int y = -1;
    int width = -1;
    int height = -1;
};

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

    void TearDown() override {
        if (player_.state() != QProcess::NotRunning) {
            player_.kill();
            player_.waitForFinished(5000);
        }
    }

    QString Display() const { return QString::fromStdString(display_); }

    // Starts the program with extra environment and returns its visible main window, or an
    // empty string when none appeared.
    QString StartPlayer(const QStringList& extraEnv = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), Display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const QString& entry : extraEnv)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        player_.setProcessEnvironment(env);
        player_.setProcessChannelMode(QProcess::ForwardedChannels);
        // TS_PLAYER_BINARY runs another build of the program, such as the packaged one.
        const QString binary =
            qEnvironmentVariable("TS_PLAYER_BINARY", QStringLiteral(TUNESTEAD_BINARY));
        player_.start(binary, {});
        if (!player_.waitForStarted(5000))
            return {};
        return RunTool(QStringLiteral("xdotool"),
                       {"search", "--sync", "--onlyvisible", "--pid",
                        QString::number(player_.processId())},
                       Display())
            .split('\n')
            .value(0);
    }

    // The title as the X server holds it for the window manager (_NET_WM_NAME, UTF-8).
    std::string Title(const QString& window) const {
        const QString line =
            RunTool(QStringLiteral("xprop"), {"-id", window, "_NET_WM_NAME"}, Display());
        const qsizetype open = line.indexOf('"');
        const qsizetype close = line.lastIndexOf('"');
        return (open < 0 || close <= open ? line : line.mid(open + 1, close - open - 1))
            .toStdString();
    }

    Geometry WindowGeometry(const QString& window) const {
        Geometry g;
        const QString shell =
            RunTool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, Display());
        for (const QString& line : shell.split('\n')) {
            const int value = line.section('=', 1).toInt();
            if (line.startsWith("X="))
                g.x = value;
            else if (line.startsWith("Y="))
                g.y = value;
            else if (line.startsWith("WIDTH="))
                g.width = value;
            else if (line.startsWith("HEIGHT="))
                g.height = value;
        }
        return g;
    }

    // Closes the window as a window manager's close button does and waits for the program.
    void CloseAndExpectExitZero(const QString& window) {
        SendDeleteWindow(display_, xcb_window_t(window.toULong()));
        ASSERT_TRUE(player_.waitForFinished(10000)) << "the program did not end on close";
        EXPECT_EQ(player_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player_.exitCode(), 0);
    }

    std::string display_;
    QProcess player_;
};

TEST_F(PianoE2ETest, MousePlaysKeysAtTheirPitchAndCloseExitsZero) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok()) << "cannot record from the audio server";
    QThread::msleep(1000);  // a new record stream can miss its first moments

    const QString window = StartPlayer();
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    // No key bed here; the title is the program's own text, with nothing appended.
    EXPECT_EQ(Title(window), "键乐坊 -- 未插设备");
    // 675 × 320, centred on the 1024 × 768 screen for that size.
    const Geometry g = WindowGeometry(window);
    EXPECT_EQ(g.width, 675);
    EXPECT_EQ(g.height, 320);
    EXPECT_EQ(g.x, (1024 - 675) / 2);
    EXPECT_EQ(g.y, (768 - 320) / 2);
    QThread::msleep(1500);  // the synthesizer's first activation

    // The piano sits at (18, 152) below the menu bar (about 24 px); the fronts of the white
    // keys of its third octave lie at y 50..79 of the piano: A (note 69, 440 Hz) spans
    // x 419..438, B (note 71, 493.88 Hz) x 440..459.
    const int pianoX = g.x + 18;
    const int pianoY = g.y + 24 + 152;
    auto mouse = [&](const QStringList& arguments) {
        RunTool(QStringLiteral("xdotool"), arguments, Display());
    };

    const double before = capture.Now();
    mouse({"mousemove", QString::number(pianoX + 428), QString::number(pianoY + 65), "mousedown",
           "1"});
    const double pressed = capture.Now();
    QThread::msleep(900);
    mouse({"mouseup", "1"});
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
    mouse({"mousemove", QString::number(pianoX + 449), QString::number(pianoY + 95), "mousedown",
           "1"});
    mouse({"mousemove", QString::number(pianoX + 449), QString::number(pianoY + 88)});
    mouse({"mousemove", QString::number(pianoX + 449), QString::number(pianoY + 65)});
    const double slidIn = capture.Now();
    QThread::msleep(900);
    mouse({"mouseup", "1"});
    const double slidRelease = capture.Now();
    QThread::msleep(300);
    const std::vector<float> slid = capture.Between(slidIn + 0.15, slidRelease - 0.05);
    EXPECT_GT(tests::fluidsynth::Rms(slid), 0.002) << "a drag onto the keys played nothing";
    EXPECT_NEAR(tests::fluidsynth::PitchHz(slid, e2e::SoundCapture::kRate), 493.88, 493.88 * 0.02);

    CloseAndExpectExitZero(window);
}

// With a scale factor of 2 the 1024 × 768 screen is 512 × 384 logical pixels, narrower than the
// window: its top-left corner (title and menu bar) stays on the screen, its height centred.
TEST_F(PianoE2ETest, ScaledWindowKeepsItsMenuBarOnTheScreen) {
    const QString window = StartPlayer({"QT_SCALE_FACTOR=2"});
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    const Geometry g = WindowGeometry(window);
    EXPECT_EQ(g.width, 2 * 675);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, (768 - 2 * 320) / 2);
    CloseAndExpectExitZero(window);
}

}  // namespace
