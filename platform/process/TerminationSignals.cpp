#include "platform/process/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace platform::process {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's ends, reached from the handler; -1 while no instance lives.
int g_readEnd = -1;
int g_writeEnd = -1;

extern "C" void OnTerminationSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up; the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &number, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    if (g_writeEnd >= 0)
        return;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_readEnd = ends[0];
    g_writeEnd = ends[1];
    m_notifier = std::make_unique<QSocketNotifier>(g_readEnd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::Drain);
    struct sigaction action {};
    action.sa_handler = &OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (const int signal : kSignals)
        m_installed = ::sigaction(signal, &action, nullptr) == 0 && m_installed;
}

TerminationSignals::~TerminationSignals() {
    if (m_notifier == nullptr)
        return;
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    m_notifier.reset();
    ::close(g_writeEnd);
    ::close(g_readEnd);
    g_writeEnd = -1;
    g_readEnd = -1;
}

void TerminationSignals::Drain() {
    unsigned char number = 0;
    while (::read(g_readEnd, &number, 1) == 1) {
        if (m_first == 0)
            m_first = number;
        if (m_onSignal)
            m_onSignal(number);
    }
}

void TerminationSignals::RaiseDefault(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);  // not reached: the default action of these signals ends us
}

}  // namespace platform::process
