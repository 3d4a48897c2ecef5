// The real program where no graphical session can be reached: it says so in words, with a way
// to try it anyway, and exits with 2 instead of Qt's abort.

#include <gtest/gtest.h>

#include <ostream>

#include <QProcess>
#include <QString>

namespace {

struct NoDisplayCase {
    const char* name;
    const char* display;  // nullptr: unset
    const char* wayland;  // nullptr: unset
    const char* expected;
};

void PrintTo(const NoDisplayCase& c, std::ostream* os) {
    *os << c.name;
}

class NoDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(NoDisplay, ExplainsAndExitsWithTwo) {
    const NoDisplayCase& c = GetParam();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (c.display != nullptr)
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(c.display));
    if (c.wayland != nullptr)
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLatin1(c.wayland));
    QProcess player;
    player.setProcessEnvironment(env);
    player.start(QStringLiteral(TUNESTEAD_BINARY), {});
    ASSERT_TRUE(player.waitForFinished(30000));
    const QString error = QString::fromUtf8(player.readAllStandardError());
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit) << error.toStdString();
    EXPECT_EQ(player.exitCode(), 2) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.expected))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("xvfb-run -a tunestead"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("Reinstalling"))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, NoDisplay,
    ::testing::Values(
        NoDisplayCase{"Neither", nullptr, nullptr, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        NoDisplayCase{"DeadX11", ":987", nullptr, "the X11 display \":987\" does not answer"},
        NoDisplayCase{"MissingWaylandSocket", nullptr, "wayland-987",
                      "no Wayland socket \"wayland-987\""}),
    [](const ::testing::TestParamInfo<NoDisplayCase>& info) { return info.param.name; });

}  // namespace
