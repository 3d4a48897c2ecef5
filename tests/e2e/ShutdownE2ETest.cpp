// The real program ended from outside while a key is held on an external JACK output: by
// SIGTERM, SIGINT or SIGHUP, and by losing its display. Each time the held note must be
// released on that output before the program is gone. The program runs on an X server of the
// test's own, so the display can be taken away without disturbing other tests.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/Player.h"
#include "tests/platform/midi/JackPeer.h"

namespace {

using Message = std::vector<unsigned char>;

// An X server of the test's own on the first free display number.
class PrivateDisplay {
public:
    PrivateDisplay() {
        server_.setProcessChannelMode(QProcess::SeparateChannels);
        server_.start(QStringLiteral("Xvfb"),
                      {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted(5000))
            return;
        // Xvfb writes its display number once it accepts connections.
        for (int i = 0; i < 50 && !server_.canReadLine(); ++i)
            server_.waitForReadyRead(100);
        const QString number = QString::fromUtf8(server_.readLine()).trimmed();
        if (!number.isEmpty())
            name_ = QStringLiteral(":") + number;
    }
    ~PrivateDisplay() { Stop(); }

    const QString& Name() const { return name_; }
    void Stop() {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.kill();
        server_.waitForFinished(5000);
    }

private:
    QProcess server_;
    QString name_;
};

QString Tool(const QString& display, const QStringList& arguments) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(15000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

bool Contains(const std::vector<Message>& messages, const Message& wanted) {
    return std::find(messages.begin(), messages.end(), wanted) != messages.end();
}

class ShutdownE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PULSE_SERVER") == nullptr || !tests::midi::JackRunning()) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "CI must run this with ./test, which starts PulseAudio and JACK";
            GTEST_SKIP() << "needs ./test's PulseAudio and JACK";
        }
        ASSERT_FALSE(display_.Name().isEmpty()) << "no X server of the test's own";
        // Started before the player, so that its input is in the output list at start-up.
        peer_ = std::make_unique<tests::midi::JackPeer>("ts-shutdown");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_.Name());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        player_.setProcessEnvironment(env);
        player_.setProcessChannelMode(QProcess::ForwardedChannels);
        e2e::Start(player_);
        ASSERT_TRUE(player_.waitForStarted(5000));
        window_ = Tool(display_.Name(), {"search", "--sync", "--onlyvisible", "--name", "键乐坊"})
                      .split('\n')
                      .value(0);
        ASSERT_FALSE(window_.isEmpty()) << "the main window did not appear";
        QThread::msleep(1500);  // the synthesizer's first activation
        const QString geometry = Tool(display_.Name(), {"getwindowgeometry", "--shell", window_});
        for (const QString& line : geometry.split('\n')) {
            if (line.startsWith("X="))
                x_ = line.mid(2).toInt();
            if (line.startsWith("Y="))
                y_ = line.mid(2).toInt();
        }
    }
    void TearDown() override {
        if (player_.state() != QProcess::NotRunning) {
            player_.kill();
            player_.waitForFinished(5000);
        }
    }

    void Xdotool(const QStringList& arguments) { Tool(display_.Name(), arguments); }

    // Chooses the peer's input as the output port (the second entry, after the synthesizer),
    // then presses the piano's A 440 and keeps the button down until the peer has the note.
    bool HoldAOnThePeer() {
        Xdotool({"mousemove", QString::number(x_ + 56 + 60), QString::number(y_ + 24 + 40 + 8),
                 "click", "1"});
        QThread::msleep(800);
        Xdotool({"key", "Down", "Return"});
        QThread::msleep(500);
        Xdotool({"mousemove", QString::number(x_ + 18 + 428), QString::number(y_ + 24 + 152 + 65),
                 "mousedown", "1"});
        for (int i = 0; i < 50; ++i) {
            if (Contains(peer_->Received(), {0x90, 69, 127}))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    // What reached the peer after the note-on.
    std::vector<Message> AfterNoteOn() {
        std::vector<Message> all = peer_->Received();
        const auto on = std::find(all.begin(), all.end(), Message{0x90, 69, 127});
        return {on == all.end() ? all.end() : on + 1, all.end()};
    }

    PrivateDisplay display_;
    std::unique_ptr<tests::midi::JackPeer> peer_;
    QProcess player_;
    QString window_;
    int x_ = 0;
    int y_ = 0;
};

struct Ending {
    const char* name;
    // Ends the session under the player: a signal to its process, or its display gone.
    std::function<void(QProcess&, PrivateDisplay&)> end;
};

void PrintTo(const Ending& ending, std::ostream* os) {
    *os << ending.name;
}

class EndingsTest : public ShutdownE2ETest, public ::testing::WithParamInterface<Ending> {};

TEST_P(EndingsTest, AHeldNoteIsReleasedOnTheExternalOutput) {
    ASSERT_TRUE(HoldAOnThePeer()) << "the chosen JACK output did not get the note-on";
    GetParam().end(player_, display_);
    ASSERT_TRUE(player_.waitForFinished(10000)) << "the player did not end";
    // What the player sent in its last JACK cycle may reach the peer a cycle later.
    const auto released = [&] {
        const std::vector<Message> after = AfterNoteOn();
        return Contains(after, {0xB0, 123, 0}) || Contains(after, {0x80, 69, 127});
    };
    for (int i = 0; i < 20 && !released(); ++i)
        QThread::msleep(50);
    EXPECT_TRUE(released()) << "the held note was never released on the external output";
}

void Signal(QProcess& player, int number) {
    ::kill(pid_t(player.processId()), number);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, EndingsTest,
    ::testing::Values(
        Ending{"Sigterm", [](QProcess& player, PrivateDisplay&) { Signal(player, SIGTERM); }},
        Ending{"Sigint", [](QProcess& player, PrivateDisplay&) { Signal(player, SIGINT); }},
        Ending{"Sighup", [](QProcess& player, PrivateDisplay&) { Signal(player, SIGHUP); }},
        Ending{"DisplayLost", [](QProcess&, PrivateDisplay& display) { display.Stop(); }}),
    [](const ::testing::TestParamInfo<Ending>& info) { return info.param.name; });

// The signal still ends the program the way it would have: the session sees it ended by it.
TEST_F(ShutdownE2ETest, ASignalStillEndsTheProgramBySignal) {
    Signal(player_, SIGTERM);
    ASSERT_TRUE(player_.waitForFinished(10000));
    EXPECT_EQ(player_.exitStatus(), QProcess::CrashExit);
}

}  // namespace
