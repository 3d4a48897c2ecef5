// tunestead-keybed: lists the CH341 key beds on the USB bus; with --watch, runs the program's
// own scan on one of them and prints every press and release until Ctrl+C; with --test, runs
// a guided wiring test on it and reports the faults it finds.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "device/KeyBed.h"
#include "device/WiringReportWriter.h"
#include "device/WiringSession.h"
#include "platform/ch341/AccessAdvice.h"
#include "platform/ch341/Ch341UsbDevice.h"

namespace {

using platform::ch341::Ch341UsbDevice;
using platform::ch341::ULONG;

void PrintHelp() {
    std::puts(
        "Usage: tunestead-keybed [--watch [INDEX] | --test [INDEX] [--json] [--seconds N]]\n"
        "                        [--help]\n"
        "\n"
        "Without options, lists the CH341 key beds found (index, bus/address, USB ids).\n"
        "  --watch [INDEX]  open key bed INDEX (default 0), scan it every 25 ms and print each\n"
        "                   press and release (key, row, column) until Ctrl+C; plugging and\n"
        "                   unplugging are followed\n"
        "  --test [INDEX]   wiring test of key bed INDEX (default 0): press every key once,\n"
        "                   from the lowest to the highest, then hold the chords it names,\n"
        "                   then press Enter. It reports, for the bed and for each key 0-48,\n"
        "                   what the scan saw (presses, bounces, stuck, out of order), and\n"
        "                   names the likely cause of each fault: an open or swapped row or\n"
        "                   column line (with its chip pin), a dead, chattering or stuck\n"
        "                   switch, a short, missing diodes\n"
        "  --json           with --test: the report as JSON on standard output; the guidance\n"
        "                   goes to standard error\n"
        "  --seconds N      with --test: end after N seconds (1-86400) if Enter did not end it\n"
        "                   first; at the end of standard input it then keeps waiting\n"
        "  --help           show this text\n"
        "\n"
        "Exit status of --test: 0 the key bed is sound, 1 a fault was found, 2 a usage error,\n"
        "no key bed, or the key bed went away during the test.\n"
        "\n"
        "Without permission on the device, install packaging/60-tunestead-keybed.rules.\n"
        "A device with a kernel driver bound (a USB-serial adapter) is never taken: it is\n"
        "skipped with a line on standard error; see packaging/README.md.");
}

// Ctrl+C and termination are taken with sigtimedwait on this thread; every other thread
// inherits the blocked mask, so no handler runs inside the scan or libusb.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

// When the open failed for want of permission, says how to get it.
void AdviseOnAccess(Ch341UsbDevice& driver, ULONG index) {
    if (driver.LastError() == platform::ch341::Ch341Error::Access) {
        const auto devices = driver.ListDevices();
        if (index < devices.size()) {
            std::fprintf(stderr, "%s\n", platform::ch341::AccessAdvice(devices[index]).c_str());
        }
    }
}

int List(Ch341UsbDevice& driver) {
    const auto devices = driver.ListDevices();
    if (devices.empty()) {
        std::puts("No CH341 key bed found.");
        return 1;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto& d = devices[i];
        std::printf("%zu  bus %03u address %03u  %04x:%04x\n", i, unsigned{d.bus},
                    unsigned{d.address}, unsigned{d.vendorId}, unsigned{d.productId});
    }
    return 0;
}

// Prints what the dialog would show; runs on the main thread, like the GUI thread.
class ConsoleView : public device::IKeyBedView {
public:
    void SetWindowTitle(std::string_view title) override {
        const bool working = title == device::KeyBed::kTitleWorking;
        if (working != working_ || first_) {
            std::printf("%s\n", working ? "key bed open, scanning" : "no key bed");
            std::fflush(stdout);
        }
        first_ = false;
        working_ = working;
    }
    void ShowErrorBox(std::string_view text, std::string_view caption) override {
        std::fprintf(stderr, "%.*s: %.*s\n", int(caption.size()), caption.data(), int(text.size()),
                     text.data());
    }

private:
    bool first_ = true;
    bool working_ = false;
};

int Watch(Ch341UsbDevice& driver, ULONG index) {
    sigset_t stopSignals = BlockStopSignals();

    std::mutex mutex;
    std::deque<ULONG> deviceEvents;
    ConsoleView view;
    device::KeyBed keyBed(
        driver, view,
        [&](ULONG code) {
            std::lock_guard lock(mutex);
            deviceEvents.push_back(code);
        },
        [&](std::span<const device::KeyEvent> events) {
            // One line per event, printed on the key-bed thread; stdout is locked per call.
            for (const auto& e : events) {
                std::printf("%-7s key %2u  row %u  column %u\n", e.pressed ? "press" : "release",
                            unsigned{e.key}, unsigned{e.row}, unsigned{e.column});
            }
            std::fflush(stdout);
        });
    keyBed.Start(index);
    AdviseOnAccess(driver, index);

    const timespec poll{0, 100'000'000};
    for (;;) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &poll);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        std::deque<ULONG> pending;
        {
            std::lock_guard lock(mutex);
            pending.swap(deviceEvents);
        }
        for (const ULONG code : pending) {
            keyBed.OnDeviceEvent(code);
        }
    }
    keyBed.Destroy();
    std::puts("stopped");
    return 0;
}

// What ended a test session.
enum class SessionEnd { Enter, Time, Signal, DeviceLost };

// Pumps the session until Enter (a newline on standard input), the end of standard input
// when no time is set, `seconds`, Ctrl+C or termination, or the key bed going away.
SessionEnd RunSession(device::WiringSession& session, const sigset_t& stopSignals,
                      std::optional<int> seconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
    bool readInput = true;
    for (;;) {
        if (!session.Pump()) {
            return SessionEnd::DeviceLost;
        }
        if (seconds && std::chrono::steady_clock::now() >= deadline) {
            return SessionEnd::Time;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, readInput ? 1 : 0, 50) > 0 && (input.revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[256];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(n)) != nullptr) {
                return SessionEnd::Enter;
            }
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                // No more input: a script that set a time keeps the test to that time.
                if (!seconds) {
                    return SessionEnd::Enter;
                }
                readInput = false;
            }
        } else if ((input.revents & POLLNVAL) != 0) {
            readInput = false;  // no standard input at all
        }
        const timespec now{0, 0};
        const int signal = sigtimedwait(&stopSignals, nullptr, &now);
        if (signal == SIGINT || signal == SIGTERM) {
            return SessionEnd::Signal;
        }
    }
}

int Test(Ch341UsbDevice& driver, ULONG index, bool json, std::optional<int> seconds) {
    const sigset_t stopSignals = BlockStopSignals();
    // Guidance goes where it cannot spoil the JSON a script reads.
    FILE* guide = json ? stderr : stdout;
    const auto say = [guide](std::string_view line) {
        std::fprintf(guide, "%.*s\n", int(line.size()), line.data());
        std::fflush(guide);
    };
    device::WiringSession session(driver, say);
    say("Key-bed wiring test of key bed " + std::to_string(index) + ".");
    if (!session.Start(index)) {
        AdviseOnAccess(driver, index);
        std::fprintf(stderr, "tunestead-keybed: key bed %u could not be opened (%s)\n",
                     unsigned{index},
                     driver.LastError() == platform::ch341::Ch341Error::Access
                         ? "no permission"
                         : "no such CH341 key bed; run without options to list them");
        return 2;
    }
    say(seconds ? "The test ends after " + std::to_string(*seconds) + " s, or on Enter."
                : std::string("Press Enter when done (Ctrl+C ends the test too)."));
    const SessionEnd end = RunSession(session, stopSignals, seconds);
    const device::WiringReport report = session.Finish();
    if (end == SessionEnd::DeviceLost) {
        std::fprintf(stderr,
                     "tunestead-keybed: the key bed went away or stopped answering during the "
                     "test; no report\n");
        return 2;
    }
    const std::string text =
        json ? device::WiringReportWriter::Json(report) : device::WiringReportWriter::Text(report);
    if (!json) {
        std::fputs("\n", stdout);  // apart from the guidance above it
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return report.Sound() ? 0 : 1;
}

// Parses the optional INDEX after --watch or --test at argv[i]; false on a bad one.
bool ParseIndex(int argc, char** argv, int& i, ULONG& index) {
    if (i + 1 >= argc || argv[i + 1][0] == '-') {
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(argv[++i], &end, 10);
    if (errno != 0 || end == argv[i] || *end != '\0' || value > 255) {
        std::fprintf(stderr, "tunestead-keybed: bad index '%s'\n", argv[i]);
        return false;
    }
    index = static_cast<ULONG>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    enum class Mode { List, Watch, Test };
    Mode mode = Mode::List;
    ULONG index = 0;
    bool json = false;
    std::optional<int> seconds;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "--watch" || arg == "--test") {
            if (mode != Mode::List) {
                std::fprintf(stderr, "tunestead-keybed: --watch and --test go one at a time\n");
                return 2;
            }
            mode = arg == "--watch" ? Mode::Watch : Mode::Test;
            if (!ParseIndex(argc, argv, i, index)) {
                return 2;
            }
            continue;
        }
        if (arg == "--json") {
            json = true;
            continue;
        }
        if (arg == "--seconds") {
            char* end = nullptr;
            errno = 0;
            const long value = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (i + 1 >= argc || errno != 0 || end == argv[i + 1] || *end != '\0' || value < 1 ||
                value > 86400) {
                std::fprintf(stderr,
                             "tunestead-keybed: --seconds needs a whole number of seconds, "
                             "1 to 86400\n");
                return 2;
            }
            seconds = static_cast<int>(value);
            ++i;
            continue;
        }
        std::fprintf(stderr, "tunestead-keybed: unknown option '%s' (try --help)\n", argv[i]);
        return 2;
    }
    if ((json || seconds) && mode != Mode::Test) {
        std::fprintf(stderr, "tunestead-keybed: --json and --seconds go with --test\n");
        return 2;
    }
    // A closed standard input would hand descriptor 0 to the next file opened (libusb's):
    // the test would then read that as the user's Enter.
    if (fcntl(STDIN_FILENO, F_GETFD) == -1) {
        open("/dev/null", O_RDONLY);
    }
    const auto driver = Ch341UsbDevice::CreateWithLibusb();
    switch (mode) {
        case Mode::Watch:
            return Watch(*driver, index);
        case Mode::Test:
            return Test(*driver, index, json, seconds);
        case Mode::List:
            break;
    }
    return List(*driver);
}
