#pragma once

// The real program on the virtual display: starting it, finding its window and clicking,
// through xdotool and the X server.

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>

namespace e2e {

// The value of an environment variable, empty when unset.
std::string Env(const char* name);

// Runs a command on `display` and returns its standard output, trimmed.
QString RunTool(const QString& program, const QStringList& arguments, const QString& display);

// Asks the window to close the way a window manager's close button does.
void SendDeleteWindow(const std::string& display, unsigned long window);

// Starts `binary` on `display` (xcb), its output forwarded.
void StartOnDisplay(QProcess& process, const QString& binary, const QString& display);

// The first visible window whose name contains `name` (waits for it); empty if none.
QString FindWindow(const QString& name, const QString& display);

// The window's top-left corner on the screen.
struct Point {
    int x = 0;
    int y = 0;
};
Point WindowOrigin(const QString& window, const QString& display);

// Starts the program on `display` and waits for its main window and the synthesizer's first
// activation; returns the window, empty if it did not appear.
QString StartPlayerWindow(QProcess& player, const QString& binary, const QString& display);

// Tests of the real program: need ./test's Xvfb and PulseAudio; skipped without them, except
// in CI, where that is a failure.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::string display_;
};

}  // namespace e2e
