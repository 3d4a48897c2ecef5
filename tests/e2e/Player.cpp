#include "tests/e2e/Player.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace e2e {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

QString Binary() {
    return qEnvironmentVariable("TS_PLAYER_BINARY", QStringLiteral(TUNESTEAD_BINARY));
}

QString WriteHostsFile(const std::string& siteAddress) {
    static int written = 0;
    const QString path = QDir::temp().filePath(QStringLiteral("tunestead-e2e-hosts-%1-%2")
                                                   .arg(QCoreApplication::applicationPid())
                                                   .arg(++written));
    QFile hosts(path);
    if (hosts.open(QIODevice::WriteOnly)) {
        hosts.write("127.0.0.1 localhost\n");
        hosts.write(QByteArray::fromStdString(siteAddress + " www.tunestead.example\n"));
        hosts.close();
    }
    return path;
}

// unshare's arguments that run `program` with `hostsFile` bound over /etc/hosts.
QStringList InOwnHosts(const QString& hostsFile, const QString& program) {
    // Root makes the mount namespace directly; anyone else through a user namespace.
    const QString namespaces = ::geteuid() == 0 ? QStringLiteral("-m") : QStringLiteral("-rm");
    return {namespaces, "sh",      "-c",   "mount --bind \"$1\" /etc/hosts && exec \"$2\"",
            "sh",       hostsFile, program};
}

std::string FindWhySiteCannotBeRedirected() {
    const QString hostsFile = WriteHostsFile("127.77.0.1");
    QProcess probe;
    probe.start(QStringLiteral("unshare"), InOwnHosts(hostsFile, QStringLiteral("true")));
    std::string why;
    if (!probe.waitForStarted(5000)) {
        why = "unshare cannot be run";
    } else if (!probe.waitForFinished(10000)) {
        probe.kill();
        probe.waitForFinished(5000);
        why = "unshare did not finish in 10 s";
    } else if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        why = QString::fromLocal8Bit(probe.readAllStandardError()).trimmed().toStdString();
        if (why.empty())
            why = "unshare failed with status " + std::to_string(probe.exitCode());
    }
    QFile::remove(hostsFile);
    return why.empty() ? why
                       : "the program cannot be given an /etc/hosts of its own here, so the "
                         "maker's site cannot point at a test server: " +
                             why;
}

}  // namespace

std::string TestDisplay() {
    return Env("TS_XVFB_DISPLAY");
}

bool HaveTestServers() {
    return !TestDisplay().empty() && !Env("PULSE_SERVER").empty();
}

void PlayerTest::SetUp() {
    if (!HaveTestServers()) {
        if (std::getenv("CI") != nullptr)
            FAIL() << "CI must run this with ./test, which starts Xvfb and PulseAudio";
        GTEST_SKIP() << "needs ./test's Xvfb and PulseAudio (TS_XVFB_DISPLAY, PULSE_SERVER)";
    }
}

void Start(QProcess& process) {
    process.start(Binary(), {});
}

const std::string& WhySiteCannotBeRedirected() {
    static const std::string why = FindWhySiteCannotBeRedirected();
    return why;
}

QString StartWithSiteAt(QProcess& process, const std::string& siteAddress) {
    const QString hostsFile = WriteHostsFile(siteAddress);
    process.start(QStringLiteral("unshare"), InOwnHosts(hostsFile, Binary()));
    return hostsFile;
}

void SiteTest::SetUp() {
    PlayerTest::SetUp();
    if (!IsSkipped() && !HasFailure() && !WhySiteCannotBeRedirected().empty())
        GTEST_SKIP() << WhySiteCannotBeRedirected();
}

Player::Player(const std::string& siteAddress, const QStringList& extraEnv) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(TestDisplay()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& entry : extraEnv)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    if (siteAddress.empty())
        Start(process_);
    else
        hostsFile_ = StartWithSiteAt(process_, siteAddress);
    started_ = process_.waitForStarted(5000);
}

Player::~Player() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    if (!hostsFile_.isEmpty())
        QFile::remove(hostsFile_);
}

QString Player::Xdotool(const QStringList& arguments) const {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(TestDisplay()));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(15000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString Player::WaitForWindow() {
    window_ =
        Xdotool({"search", "--sync", "--onlyvisible", "--name", "键乐坊"}).split('\n').value(0);
    return window_;
}

namespace {

int Field(const QString& shell, const char* name) {
    for (const QString& line : shell.split('\n')) {
        if (line.startsWith(QLatin1String(name) + '='))
            return line.mid(int(std::strlen(name)) + 1).toInt();
    }
    return -1;
}

}  // namespace

QPoint Player::Origin() const {
    const QString shell = Xdotool({"getwindowgeometry", "--shell", window_});
    return {Field(shell, "X"), Field(shell, "Y")};
}

QSize Player::Size() const {
    const QString shell = Xdotool({"getwindowgeometry", "--shell", window_});
    return {Field(shell, "WIDTH"), Field(shell, "HEIGHT")};
}

std::string Player::Title() const {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(TestDisplay()));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xprop"), {"-id", window_, "_NET_WM_NAME"});
    tool.waitForFinished(15000);
    const QString line = QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    const qsizetype open = line.indexOf('"');
    const qsizetype close = line.lastIndexOf('"');
    return (open < 0 || close <= open ? line : line.mid(open + 1, close - open - 1)).toStdString();
}

void Player::Close() {
    const std::string display = TestDisplay();
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
    event.window = xcb_window_t(window_.toULong());
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // A checked request waits for the server's answer: the X server drops requests that are
    // still unread when their client disconnects.
    const xcb_void_cookie_t cookie =
        xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&event));
    std::free(xcb_request_check(connection, cookie));
    xcb_disconnect(connection);
}

}  // namespace e2e
