#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform::process {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the thread that made this object (the GUI
// thread). The handler only writes the signal number to a pipe; a socket notifier reads it in
// the event loop, so the callback may do anything. One instance at a time; the destructor
// puts the default dispositions back.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    // `onSignal` gets the number of each signal as it is taken from the pipe.
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or a handler could not be set up (the signals then keep their
    // default action).
    bool Installed() const { return m_installed; }
    // The first signal taken, or 0.
    int First() const { return m_first; }

    // Ends the process by `signal` with its default action, as if it had never been caught,
    // so that the parent sees how the program ended. Call after the program's own shutdown.
    [[noreturn]] static void RaiseDefault(int signal);

private:
    void Drain();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    int m_first = 0;
};

}  // namespace platform::process
