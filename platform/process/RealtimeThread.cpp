#include "platform/process/RealtimeThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/log/DebugOutput.h"

namespace platform::process {
namespace {

constexpr char kRtkitService[] = "org.freedesktop.RealtimeKit1";
constexpr char kRtkitPath[] = "/org/freedesktop/RealtimeKit1";
constexpr std::uint64_t kRtkitTimeoutUs = 500'000;
// RealtimeKit only serves processes that bound their real-time CPU time (RLIMIT_RTTIME) to
// at most its own limit; 200 ms is its default and a render never runs that long.
constexpr rlim_t kRtTimeUs = 200'000;

bool RunsRealtime() {
    const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

int SetDirect(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
}

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// Reads one 32- or 64-bit integer property of RealtimeKit; `fallback` when it cannot.
std::int64_t RtkitProperty(sd_bus* bus, const char* name, char type, std::int64_t fallback) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::int64_t value = fallback;
    if (sd_bus_get_property(bus, kRtkitService, kRtkitPath, kRtkitService, name, &error, &reply,
                            type == 'i' ? "i" : "x") >= 0) {
        if (type == 'i') {
            std::int32_t v = 0;
            if (sd_bus_message_read(reply, "i", &v) >= 0)
                value = v;
        } else {
            std::int64_t v = 0;
            if (sd_bus_message_read(reply, "x", &v) >= 0)
                value = v;
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return value;
}

// Asks RealtimeKit to make this thread real-time; empty on success, else why not.
std::string AskRealtimeKit(int priority) {
    sd_bus* raw = nullptr;
    if (const int r = sd_bus_open_system(&raw); r < 0)
        return std::string("no system bus (") + std::strerror(-r) + ")";
    std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    sd_bus_set_method_call_timeout(bus.get(), kRtkitTimeoutUs);

    const std::int64_t maxPriority = RtkitProperty(bus.get(), "MaxRealtimePriority", 'i', 1);
    const std::int64_t maxRtTime = RtkitProperty(bus.get(), "RTTimeUSecMax", 'x', kRtTimeUs);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = std::min<rlim_t>(kRtTimeUs, rlim_t(maxRtTime));
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
        return std::string("cannot bound RLIMIT_RTTIME (") + std::strerror(errno) + ")";

    const auto thread = std::uint64_t(syscall(SYS_gettid));
    const auto granted = std::uint32_t(std::clamp<std::int64_t>(priority, 1, maxPriority));
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus.get(), kRtkitService, kRtkitPath, kRtkitService,
                                     "MakeThreadRealtime", &error, nullptr, "tu", thread, granted);
    std::string cause;
    if (r < 0)
        cause = std::string("RealtimeKit: ") +
                (error.message != nullptr ? error.message : std::strerror(-r));
    sd_bus_error_free(&error);
    return cause;
}

}  // namespace

RealtimeGrant MakeThreadRealtime(int priority) {
    static std::atomic<bool> reported{false};
    RealtimeGrant grant = RealtimeGrant::Direct;
    std::string cause;
    if (!RunsRealtime()) {
        if (const int error = SetDirect(priority); error != 0) {
            cause = std::string("not allowed directly (") + std::strerror(error) + ")";
            const std::string rtkit = AskRealtimeKit(priority);
            if (rtkit.empty())
                grant = RealtimeGrant::RealtimeKit;
            else {
                grant = RealtimeGrant::Refused;
                cause += ", " + rtkit;
            }
        }
    }
    if (!reported.exchange(true)) {
        std::string line = "Built-in synthesizer: audio threads run " + Describe(grant);
        if (grant == RealtimeGrant::Refused)
            line += ": real-time scheduling is " + cause + "; the output queues more to make up";
        OutputDebugString(line);
    }
    return grant;
}

std::string Describe(RealtimeGrant grant) {
    switch (grant) {
        case RealtimeGrant::Direct:
            return "real-time directly";
        case RealtimeGrant::RealtimeKit:
            return "real-time through RealtimeKit";
        case RealtimeGrant::Refused:
            break;
    }
    return "at normal priority";
}

}  // namespace platform::process
