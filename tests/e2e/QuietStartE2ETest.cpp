// The real program started and left idle, as a user starts it from a desktop session: nothing
// needs the user's attention, so nothing is written to its standard error, not once and not
// every second; with the debug category asked for, its diagnostics do appear there.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "tests/e2e/Player.h"

namespace {

class QuietStartE2ETest : public e2e::PlayerTest {
protected:
    // Runs the player idle for a few port polls with `extraEnv` and closes it; its stderr.
    QString IdleStderr(const QStringList& extraEnv) {
        QTemporaryDir runtime;  // a session's XDG_RUNTIME_DIR, private to the user
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(e2e::TestDisplay()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        for (const QString& entry : extraEnv)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1, -1));
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::SeparateChannels);
        e2e::Start(player);
        EXPECT_TRUE(player.waitForStarted(5000));
        QThread::msleep(3500);  // start-up and three port polls
        player.terminate();
        EXPECT_TRUE(player.waitForFinished(10000));
        return QString::fromUtf8(player.readAllStandardError());
    }
};

TEST_F(QuietStartE2ETest, AnIdleStartWritesNothingToStderr) {
    EXPECT_EQ(IdleStderr({}).toStdString(), "");
}

TEST_F(QuietStartE2ETest, DebugLinesComeWhenAskedFor) {
    // Start-up reports at least which mixer control the volume slider drives.
    EXPECT_TRUE(IdleStderr({QStringLiteral("QT_LOGGING_RULES=tunestead.debug=true")})
                    .contains(QStringLiteral("tunestead: ")));
}

}  // namespace
