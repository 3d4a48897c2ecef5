// tunestead-keybed: lists the CH341 key beds on the USB bus and, with --watch, runs the
// program's own scan on one of them and prints every press and release until Ctrl+C.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "device/KeyBed.h"
#include "platform/ch341/AccessAdvice.h"
#include "platform/ch341/Ch341UsbDevice.h"

namespace {

using platform::ch341::Ch341UsbDevice;
using platform::ch341::ULONG;

void PrintHelp() {
    std::puts(
        "Usage: tunestead-keybed [--watch [INDEX]] [--help]\n"
        "\n"
        "Without options, lists the CH341 key beds found (index, bus/address, USB ids).\n"
        "  --watch [INDEX]  open key bed INDEX (default 0), scan it every 25 ms and print each\n"
        "                   press and release (key, row, column) until Ctrl+C; plugging and\n"
        "                   unplugging are followed\n"
        "  --help           show this text\n"
        "\n"
        "Without permission on the device, install packaging/60-tunestead-keybed.rules.\n"
        "A device with a kernel driver bound (a USB-serial adapter) is never taken: it is\n"
        "skipped with a line on standard error; see packaging/README.md.");
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
    // Ctrl+C and termination are taken with sigtimedwait on this thread; every other thread
    // inherits the blocked mask, so no handler runs inside the scan or libusb.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

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
    if (driver.LastError() == platform::ch341::Ch341Error::Access) {
        const auto devices = driver.ListDevices();
        if (index < devices.size()) {
            std::fprintf(stderr, "%s\n", platform::ch341::AccessAdvice(devices[index]).c_str());
        }
    }

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

}  // namespace

int main(int argc, char** argv) {
    bool watch = false;
    ULONG index = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "--watch") {
            watch = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                char* end = nullptr;
                errno = 0;
                const unsigned long value = std::strtoul(argv[++i], &end, 10);
                if (errno != 0 || end == argv[i] || *end != '\0' || value > 255) {
                    std::fprintf(stderr, "tunestead-keybed: bad index '%s'\n", argv[i]);
                    return 2;
                }
                index = static_cast<ULONG>(value);
            }
            continue;
        }
        std::fprintf(stderr, "tunestead-keybed: unknown option '%s' (try --help)\n", argv[i]);
        return 2;
    }
    const auto driver = Ch341UsbDevice::CreateWithLibusb();
    return watch ? Watch(*driver, index) : List(*driver);
}
