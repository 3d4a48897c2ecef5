#pragma once

// The real tunestead program on the test's virtual display, seen and driven from outside the
// way a user would: xdotool for the mouse and keys, the X server for the window's geometry.
// Its start-up fetch asks the system's resolver for the maker's site, a name under .example
// that resolves nowhere. Tests of the announcement point the site at a loopback address
// instead, through a mount namespace whose /etc/hosts says so.

#include <gtest/gtest.h>

#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <string>

namespace e2e {

// The display and audio server ./test started; empty when missing.
std::string TestDisplay();
bool HaveTestServers();

// Starts the program in `process` (its environment already set). TS_PLAYER_BINARY, when set,
// names another build of the program to run (the packaged one, say).
void Start(QProcess& process);

// Empty when the program can be given an /etc/hosts of its own here; otherwise why not. That
// takes a mount namespace with a bind mount, which a chroot (its / is no mount point) and many
// containers refuse. Found out once, by trying.
const std::string& WhySiteCannotBeRedirected();

// Starts the program as Start does, in a mount namespace of its own whose /etc/hosts points
// the maker's site at `siteAddress`. Returns the hosts file, for the caller to remove when the
// program has ended.
QString StartWithSiteAt(QProcess& process, const std::string& siteAddress);

// Skips (fails in CI) without the servers ./test starts.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// For tests of the announcement: also skips, saying why, where the site cannot be redirected.
class SiteTest : public PlayerTest {
protected:
    void SetUp() override;
};

class Player {
public:
    // Starts the program with `extraEnv` ("NAME=value") added to its environment, and with the
    // maker's site at `siteAddress` (a loopback address) when one is given (in a SiteTest).
    explicit Player(const std::string& siteAddress = {}, const QStringList& extraEnv = {});
    ~Player();

    bool Started() const { return started_; }
    // Waits for the main window to be mapped; its X id, or empty.
    QString WaitForWindow();
    QPoint Origin() const;  // the window's top-left corner on the screen
    QSize Size() const;
    // The title as the X server holds it for the window manager (_NET_WM_NAME, UTF-8).
    std::string Title() const;
    // xdotool with the given arguments; its standard output, trimmed.
    QString Xdotool(const QStringList& arguments) const;
    // Asks the window to close as a window manager's close button does.
    void Close();
    QProcess& Process() { return process_; }

private:
    QString window_;
    QString hostsFile_;
    QProcess process_;
    bool started_ = false;
};

}  // namespace e2e
