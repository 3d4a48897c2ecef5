// Window up (exec to mapped, as the X server sees it) of the real program with the
// announcement server down, slow (never answers) and answering, against a run with no network
// at all, and the close (WM_DELETE_WINDOW to exit) right after the window is up, while a slow
// server still holds the announcement; then the idle CPU and memory of the running player. Needs
// Xvfb and PulseAudio (TS_XVFB_DISPLAY, PULSE_SERVER, as scripts/servers.sh starts them) and root
// for the mount and network namespaces:
//   tunestead-bench-startup [runs per case]
// TS_PLAYER_BINARY, when set, names another build of the program to run (a baseline, say).
// The maker's site is pointed at a loopback address of its own through /etc/hosts in a mount
// namespace, so nothing leaves the machine.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Server { Down, Slow, Answering };

// A server on address:80 that either never answers or answers at once.
class SiteServer {
public:
    SiteServer(const std::string& address, Server mode) : mode_(mode) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(80);
        inet_pton(AF_INET, address.c_str(), &at.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd_, 8) != 0)
            std::perror("bind 80");
        thread_ = std::thread([this] { Run(); });
    }
    ~SiteServer() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }

private:
    void Run() {
        std::vector<int> open;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            if (mode_ == Server::Answering) {
                char buffer[1024];
                recv(c, buffer, sizeof buffer, 0);
                const char answer[] = "HTTP/1.0 200 OK\r\n\r\n\xBD\xCC\xC4\xE3 announcement";
                send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
                close(c);
            } else {
                open.push_back(c);  // never answered
            }
        }
        for (const int c : open)
            close(c);
    }

    Server mode_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Run {
    double mappedMs = -1;
    qint64 pid = 0;
    xcb_window_t window = XCB_WINDOW_NONE;
};

xcb_atom_t Atom(xcb_connection_t* x, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(x, 0, std::uint16_t(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(x, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Asks the window to close as a window manager's close button does; the time until the
// program has ended, or -1.
double CloseAndTime(QProcess& process, xcb_connection_t* x, xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom(x, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(x, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    const Clock::time_point start = Clock::now();
    xcb_send_event(x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(x);
    if (!process.waitForFinished(10000))
        return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Starts the player and waits for its window to be mapped.
Run StartPlayer(QProcess& process, xcb_connection_t* x, const QString& hosts, bool noNetwork) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    while (xcb_generic_event_t* stale = xcb_poll_for_event(x))
        std::free(stale);

    QStringList args{"-m"};
    if (noNetwork)
        args << "-n";
    args << "sh"
         << "-c"
         << "mount --bind \"$1\" /etc/hosts && exec \"$2\""
         << "sh" << hosts
         << qEnvironmentVariable("TS_PLAYER_BINARY", QStringLiteral(TUNESTEAD_BINARY));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const Clock::time_point start = Clock::now();
    process.start(QStringLiteral("unshare"), args);
    process.waitForStarted(5000);
    Run run;
    run.pid = process.processId();
    while (Clock::now() - start < std::chrono::seconds(20)) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (event == nullptr) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
        if (mapped)
            run.window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
        std::free(event);
        if (mapped) {
            run.mappedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
    }
    return run;
}

void Stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// utime + stime of a process, in clock ticks.
long long CpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

QByteArray StatusLine(qint64 pid, const char* key) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.simplified();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const char* display = std::getenv("TS_XVFB_DISPLAY");
    if (display == nullptr || std::getenv("PULSE_SERVER") == nullptr) {
        std::fprintf(stderr, "needs TS_XVFB_DISPLAY and PULSE_SERVER (scripts/servers.sh)\n");
        return 2;
    }
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    xcb_connection_t* x = xcb_connect(display, nullptr);

    const std::string site = "127.77." + std::to_string(getpid() % 250) + ".1";
    const QString hosts = QStringLiteral("/tmp/tunestead-bench-hosts-%1").arg(getpid());
    {
        QFile file(hosts);
        file.open(QIODevice::WriteOnly);
        file.write(
            QByteArray::fromStdString("127.0.0.1 localhost\n" + site + " www.tunestead.example\n"));
    }

    struct Case {
        const char* name;
        bool noNetwork;
        bool server;
        Server mode;
    };
    const Case cases[] = {{"no network (unshare -n)", true, false, Server::Down},
                          {"server down (refused)", false, false, Server::Down},
                          {"server answering", false, true, Server::Answering},
                          {"server never answers", false, true, Server::Slow}};
    std::printf("window up, exec to mapped, median of %d runs:\n", runs);
    for (const Case& c : cases) {
        std::unique_ptr<SiteServer> server;
        if (c.server)
            server = std::make_unique<SiteServer>(site, c.mode);
        std::vector<double> times;
        std::vector<double> closes;
        for (int i = 0; i < runs; ++i) {
            QProcess process;
            const Run run = StartPlayer(process, x, hosts, c.noNetwork);
            times.push_back(run.mappedMs);
            closes.push_back(run.window == XCB_WINDOW_NONE ? -1
                                                           : CloseAndTime(process, x, run.window));
            Stop(process);
        }
        std::printf("  %-26s %8.0f ms  (min %.0f, max %.0f); close at once: %.0f ms (max %.0f)\n",
                    c.name, Median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), Median(closes),
                    *std::max_element(closes.begin(), closes.end()));
    }

    // Idle: the window up with the server answering, nothing touched for 10 s.
    {
        SiteServer server(site, Server::Answering);
        QProcess process;
        const Run run = StartPlayer(process, x, hosts, false);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const long long before = CpuTicks(run.pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const long long after = CpuTicks(run.pid);
        const double cpu = double(after - before) / double(sysconf(_SC_CLK_TCK)) / 10.0 * 100.0;
        std::printf("idle: %.2f %% of one core over 10 s; %s; %s\n", cpu,
                    StatusLine(run.pid, "VmRSS").constData(),
                    StatusLine(run.pid, "Threads").constData());
        Stop(process);
    }
    QFile::remove(hosts);
    xcb_disconnect(x);
    return 0;
}
