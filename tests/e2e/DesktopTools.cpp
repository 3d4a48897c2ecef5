#include "DesktopTools.h"

#include <xcb/xcb.h>

#include <QThread>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace e2e {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

QString RunTool(const QString& program, const QStringList& arguments, const QString& display) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void SendDeleteWindow(const std::string& display, unsigned long window) {
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
    event.window = xcb_window_t(window);
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    // A checked request waits for the server's answer: the X server drops requests that are
    // still unread when their client disconnects.
    const xcb_void_cookie_t cookie =
        xcb_send_event_checked(connection, 0, xcb_window_t(window), XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&event));
    std::free(xcb_request_check(connection, cookie));
    xcb_disconnect(connection);
}

void StartOnDisplay(QProcess& process, const QString& binary, const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(binary, {});
}

QString FindWindow(const QString& name, const QString& display) {
    return RunTool(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--name", name},
                   display)
        .split('\n')
        .value(0);
}

Point WindowOrigin(const QString& window, const QString& display) {
    const QString geometry =
        RunTool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, display);
    Point origin;
    for (const QString& line : geometry.split('\n')) {
        if (line.startsWith("X="))
            origin.x = line.mid(2).toInt();
        if (line.startsWith("Y="))
            origin.y = line.mid(2).toInt();
    }
    return origin;
}

QString StartPlayerWindow(QProcess& player, const QString& binary, const QString& display) {
    StartOnDisplay(player, binary, display);
    if (!player.waitForStarted(5000))
        return {};
    const QString window = FindWindow(QStringLiteral("键乐坊"), display);
    QThread::msleep(1500);  // the synthesizer's first activation
    return window;
}

void DesktopTest::SetUp() {
    display_ = Env("TS_XVFB_DISPLAY");
    if (display_.empty() || Env("PULSE_SERVER").empty()) {
        if (!Env("CI").empty())
            FAIL() << "CI must run this with ./test, which starts Xvfb and PulseAudio";
        GTEST_SKIP() << "needs ./test's Xvfb and PulseAudio (TS_XVFB_DISPLAY, PULSE_SERVER)";
    }
}

}  // namespace e2e
