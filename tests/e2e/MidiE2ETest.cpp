// The real program with external MIDI on a real JACK server (dummy driver) and PulseAudio's
// null sink: a JACK MIDI program written here plays into the player's input port and listens
// on a port the player can choose as its output.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPoint>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "tests/e2e/Player.h"
#include "tests/e2e/SoundCapture.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/midi/JackPeer.h"
#include "tests/platform/midi/JackServerProcess.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

QString Tool(const QString& program, const QStringList& arguments, const QString& display) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class MidiE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = QString::fromStdString(Env("TS_XVFB_DISPLAY"));
        if (display_.isEmpty() || Env("PULSE_SERVER").empty() || !tests::midi::JackRunning()) {
            if (!Env("CI").empty())
                FAIL() << "CI must run this with ./test, which starts Xvfb, PulseAudio and JACK";
            GTEST_SKIP() << "needs ./test's Xvfb, PulseAudio and JACK";
        }
        // The external program runs before the player, so its ports are listed at start-up:
        // its output is the player's first (and only) MIDI input.
        peer_ = std::make_unique<tests::midi::JackPeer>("ts-e2e");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        player_.setProcessEnvironment(env);
        player_.setProcessChannelMode(QProcess::ForwardedChannels);
        e2e::Start(player_);
        ASSERT_TRUE(player_.waitForStarted(5000));
        window_ =
            Tool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "键乐坊"}, display_)
                .split('\n')
                .value(0);
        ASSERT_FALSE(window_.isEmpty()) << "the main window did not appear";
        QThread::msleep(1500);  // the synthesizer's first activation
        const QString geometry =
            Tool("xdotool", {"getwindowgeometry", "--shell", window_}, display_);
        for (const QString& line : geometry.split('\n')) {
            if (line.startsWith("X="))
                x_ = line.mid(2).toInt();
            if (line.startsWith("Y="))
                y_ = line.mid(2).toInt();
        }
    }
    void TearDown() override {
        if (player_.state() != QProcess::NotRunning) {
            player_.terminate();
            if (!player_.waitForFinished(5000))
                player_.kill();
        }
    }

    // Screen point of the front of a white key of the piano's third octave: A is note 69
    // (the piano sits at (18, 152) under a menu bar of about 24 px).
    QPoint KeyA() const { return {x_ + 18 + 428, y_ + 24 + 152 + 65}; }
    QString Pixel(QPoint p) const {
        return Tool("import",
                    {"-window", "root", "-crop", QString("1x1+%1+%2").arg(p.x()).arg(p.y()),
                     "-depth", "8", "txt:-"},
                    display_)
            .section('\n', 1);
    }

    QString display_;
    std::unique_ptr<tests::midi::JackPeer> peer_;
    QProcess player_;
    QString window_;
    int x_ = 0;
    int y_ = 0;
};

TEST_F(MidiE2ETest, InputOnChannelOneSoundsThroughThruAndLightsTheKey) {
    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok());
    QThread::msleep(1000);
    const QString releasedColour = Pixel(KeyA());

    const double before = capture.Now();
    peer_->Send({0x90, 69, 110});
    const double on = capture.Now();
    QThread::msleep(300);
    const QString pressedColour = Pixel(KeyA());
    QThread::msleep(600);
    peer_->Send({0x80, 69, 0});
    const double off = capture.Now();
    QThread::msleep(1500);

    const std::vector<float> held = capture.Between(on + 0.15, off - 0.05);
    EXPECT_LT(tests::fluidsynth::Rms(capture.Between(before - 0.5, before)), 1e-3);
    EXPECT_GT(tests::fluidsynth::Rms(held), 0.002) << "thru did not sound the note";
    EXPECT_NEAR(tests::fluidsynth::PitchHz(held, e2e::SoundCapture::kRate), 440.0, 440.0 * 0.02);
    EXPECT_NE(pressedColour, releasedColour) << "the key did not show pressed";
    EXPECT_EQ(Pixel(KeyA()), releasedColour) << "the key stayed pressed";

    // Channel 6: shown, not routed through.
    const double second = capture.Now();
    peer_->Send({0x95, 69, 110});
    QThread::msleep(400);
    EXPECT_NE(Pixel(KeyA()), releasedColour);
    EXPECT_LT(tests::fluidsynth::Rms(capture.Between(second + 0.1, capture.Now())), 1e-3);
    peer_->Send({0x85, 69, 0});
}

TEST_F(MidiE2ETest, ChosenJackOutputReceivesThePianosNotes) {
    // The output list: the built-in synthesizer first, then the external program's input.
    // Open it with a click and take the second entry with the keyboard.
    const QPoint combo{x_ + 56 + 60, y_ + 24 + 40 + 8};
    Tool("xdotool",
         {"mousemove", QString::number(combo.x()), QString::number(combo.y()), "click", "1"},
         display_);
    QThread::msleep(800);
    Tool("xdotool", {"key", "Down", "Return"}, display_);
    QThread::msleep(500);

    // A click that only closes a popup still open under load plays nothing: try a few times.
    bool noteOn = false;
    bool noteOff = false;
    const QPoint key = KeyA();
    for (int attempt = 0; attempt < 3 && !(noteOn && noteOff); ++attempt) {
        Tool("xdotool",
             {"mousemove", QString::number(key.x()), QString::number(key.y()), "mousedown", "1"},
             display_);
        QThread::msleep(200);
        Tool("xdotool", {"mouseup", "1"}, display_);
        QThread::msleep(500);
        for (const auto& message : peer_->Received()) {
            noteOn = noteOn || message == std::vector<unsigned char>{0x90, 69, 127};
            noteOff = noteOff || message == std::vector<unsigned char>{0x80, 69, 127};
        }
    }
    EXPECT_TRUE(noteOn) << "the chosen output did not get the note-on";
    EXPECT_TRUE(noteOff) << "the chosen output did not get the note-off";
}

}  // namespace

namespace {

TEST_F(MidiE2ETest, OwnOutputPortCarriesThePianosNotes) {
    // Another program listens on the player's own port.
    RtMidiIn listener(RtMidi::UNIX_JACK, "ts-e2e-listener");
    std::mutex mutex;
    std::vector<std::vector<unsigned char>> heard;
    struct Context {
        std::mutex* mutex;
        std::vector<std::vector<unsigned char>>* heard;
    } context{&mutex, &heard};
    listener.setCallback(
        [](double, std::vector<unsigned char>* message, void* user) {
            auto* c = static_cast<Context*>(user);
            std::lock_guard lock(*c->mutex);
            c->heard->push_back(*message);
        },
        &context);
    unsigned index = listener.getPortCount();
    for (unsigned i = 0; i < listener.getPortCount(); ++i)
        if (listener.getPortName(i).starts_with("Tunestead"))
            index = i;
    ASSERT_LT(index, listener.getPortCount()) << "the player has no MIDI output port";
    listener.openPort(index, "in");

    const QPoint key = KeyA();
    Tool("xdotool",
         {"mousemove", QString::number(key.x()), QString::number(key.y()), "mousedown", "1"},
         display_);
    QThread::msleep(200);
    Tool("xdotool", {"mouseup", "1"}, display_);
    QThread::msleep(500);

    std::lock_guard lock(mutex);
    EXPECT_NE(std::find(heard.begin(), heard.end(), std::vector<unsigned char>{0x90, 69, 127}),
              heard.end());
    EXPECT_NE(std::find(heard.begin(), heard.end(), std::vector<unsigned char>{0x80, 69, 127}),
              heard.end());
}

}  // namespace

namespace {

// A JACK server of the test's own, killed while the player uses it: the built-in synthesizer
// (on PulseAudio) keeps playing, thousands of notes later the window still works, and it
// closes normally.
TEST(MidiE2EJackDeath, JackServerKilledWhileNotesSound) {
    const QString display = QString::fromStdString(Env("TS_XVFB_DISPLAY"));
    if (display.isEmpty() || Env("PULSE_SERVER").empty() || !tests::midi::JackRunning()) {
        if (!Env("CI").empty())
            FAIL() << "CI must run this with ./test, which starts Xvfb, PulseAudio and JACK";
        GTEST_SKIP() << "needs ./test's Xvfb, PulseAudio and JACK";
    }
    const QString server = QString("ts-death-%1").arg(QCoreApplication::applicationPid());
    QProcess jackd;
    jackd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    jackd.start("jackd",
                {"-n", server, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"});
    ASSERT_TRUE(jackd.waitForStarted(5000));
    QProcess wait;
    QProcessEnvironment jackEnv = QProcessEnvironment::systemEnvironment();
    jackEnv.insert("JACK_DEFAULT_SERVER", server);
    wait.setProcessEnvironment(jackEnv);
    wait.start("jack_wait", {"-w", "-t", "5"});
    wait.waitForFinished(10000);

    QProcess player;
    QProcessEnvironment env = jackEnv;
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    e2e::Start(player);
    ASSERT_TRUE(player.waitForStarted(5000));
    const QString window =
        Tool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "键乐坊"}, display)
            .split('\n')
            .value(0);
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(1500);
    int x = 0;
    int y = 0;
    for (const QString& line :
         Tool("xdotool", {"getwindowgeometry", "--shell", window}, display).split('\n')) {
        if (line.startsWith("X="))
            x = line.mid(2).toInt();
        if (line.startsWith("Y="))
            y = line.mid(2).toInt();
    }
    const QPoint key{x + 18 + 428, y + 24 + 152 + 65};

    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok());
    QThread::msleep(1000);
    Tool("xdotool",
         {"mousemove", QString::number(key.x()), QString::number(key.y()), "mousedown", "1"},
         display);
    QThread::msleep(300);
    // The MIDI server goes away while the note sounds. Terminated, not killed outright: a
    // killed server leaves its entry in JACK's shared registry, and a few of those keep any
    // new server from starting on this machine.
    jackd.terminate();
    if (!jackd.waitForFinished(5000))
        jackd.kill();
    const double killed = capture.Now();
    QThread::msleep(700);
    const std::vector<float> afterDeath = capture.Between(killed + 0.1, capture.Now());
    Tool("xdotool", {"mouseup", "1"}, display);
    QThread::msleep(1500);

    // Thousands of notes with JACK gone, each also meant for the own JACK port: none may wait
    // on the dead server (a send that did would freeze the window for good).
    Tool("xdotool",
         {"mousemove", QString::number(key.x()), QString::number(key.y()), "click", "--repeat",
          "2500", "--delay", "1", "1"},
         display);
    QThread::msleep(500);

    // A new note still plays.
    const double second = capture.Now();
    Tool("xdotool", {"click", "1"}, display);
    QThread::msleep(150);
    Tool("xdotool",
         {"mousemove", QString::number(key.x()), QString::number(key.y()), "mousedown", "1"},
         display);
    QThread::msleep(600);
    const std::vector<float> newNote = capture.Between(second + 0.3, capture.Now());
    Tool("xdotool", {"mouseup", "1"}, display);

    EXPECT_GT(tests::fluidsynth::Rms(afterDeath), 0.002) << "the note stopped with JACK";
    EXPECT_NEAR(tests::fluidsynth::PitchHz(afterDeath, e2e::SoundCapture::kRate), 440.0, 9.0);
    EXPECT_GT(tests::fluidsynth::Rms(newNote), 0.002) << "no sound after JACK died";
    EXPECT_EQ(player.state(), QProcess::Running);

    // Closing still ends the program (Escape ends the dialog).
    Tool("xdotool", {"key", "--window", window, "Escape"}, display);
    if (!player.waitForFinished(10000)) {
        player.kill();
        FAIL() << "the program did not end after JACK died";
    }
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
}

}  // namespace

namespace {

// A JACK server of the test's own is stopped and started again while the player runs, with
// the keyboard (a JACK program) on it: the player's own port returns on the new server, and
// the keyboard's notes sound and show again without anyone touching the player.
TEST(MidiE2EJackRestart, TheKeyboardWorksAgainOnANewServer) {
    const QString display = QString::fromStdString(Env("TS_XVFB_DISPLAY"));
    if (display.isEmpty() || Env("PULSE_SERVER").empty() || !tests::midi::JackRunning()) {
        if (!Env("CI").empty())
            FAIL() << "CI must run this with ./test, which starts Xvfb, PulseAudio and JACK";
        GTEST_SKIP() << "needs ./test's Xvfb, PulseAudio and JACK";
    }
    tests::midi::JackServerProcess jackd(
        QString("ts-restart-%1").arg(QCoreApplication::applicationPid()).toStdString());
    ASSERT_TRUE(jackd.Start());
    const std::string oldServer = Env("JACK_DEFAULT_SERVER");
    setenv("JACK_DEFAULT_SERVER", jackd.Name().c_str(), 1);
    struct RestoreServer {
        std::string name;
        ~RestoreServer() { setenv("JACK_DEFAULT_SERVER", name.c_str(), 1); }
    } restore{oldServer};
    auto keyboard = std::make_unique<tests::midi::JackPeer>("ts-e2e-keyboard");

    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    e2e::Start(player);
    ASSERT_TRUE(player.waitForStarted(5000));
    const QString window =
        Tool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "键乐坊"}, display)
            .split('\n')
            .value(0);
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(1500);
    int x = 0;
    int y = 0;
    for (const QString& line :
         Tool("xdotool", {"getwindowgeometry", "--shell", window}, display).split('\n')) {
        if (line.startsWith("X="))
            x = line.mid(2).toInt();
        if (line.startsWith("Y="))
            y = line.mid(2).toInt();
    }
    const QPoint key{x + 18 + 428, y + 24 + 152 + 65};
    const auto pixel = [&] {
        return Tool("import",
                    {"-window", "root", "-crop", QString("1x1+%1+%2").arg(key.x()).arg(key.y()),
                     "-depth", "8", "txt:-"},
                    display)
            .section('\n', 1);
    };
    const auto ownPortListed = [] {
        RtMidiIn lister(RtMidi::UNIX_JACK, "ts-e2e-lister");
        for (unsigned i = 0; i < lister.getPortCount(); ++i)
            if (lister.getPortName(i).starts_with("Tunestead"))
                return true;
        return false;
    };
    const QString released = pixel();
    EXPECT_TRUE(ownPortListed()) << "no own port on the first server";

    jackd.Stop();
    keyboard.reset();
    QThread::msleep(2500);  // the player's port poll notices the loss
    ASSERT_TRUE(jackd.Start());
    keyboard = std::make_unique<tests::midi::JackPeer>("ts-e2e-keyboard");
    QThread::msleep(2500);  // ... and the new server with the keyboard on it

    e2e::SoundCapture capture;
    ASSERT_TRUE(capture.Ok());
    QThread::msleep(800);
    const double on = capture.Now();
    keyboard->Send({0x90, 69, 110});
    QThread::msleep(400);
    const QString pressed = pixel();
    QThread::msleep(400);
    const std::vector<float> held = capture.Between(on + 0.15, capture.Now());
    keyboard->Send({0x80, 69, 0});
    QThread::msleep(500);

    EXPECT_NE(pressed, released) << "the keyboard's note did not show after the restart";
    EXPECT_GT(tests::fluidsynth::Rms(held), 0.002) << "the keyboard's note did not sound";
    EXPECT_TRUE(ownPortListed()) << "the own port did not return with the new server";
    EXPECT_EQ(player.state(), QProcess::Running);

    Tool("xdotool", {"key", "--window", window, "Escape"}, display);
    if (!player.waitForFinished(10000)) {
        player.kill();
        FAIL() << "the program did not end";
    }
    keyboard.reset();
}

}  // namespace
