#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "musicport/CMidiPort.h"
#include "musicport/CMidiReceiver.h"
#include "platform/music/AutoResetEvent.h"
#include "platform/music/IMidiInput.h"
#include "platform/music/IMusicThru.h"

namespace musicport {

class COutputPort;

// One thru connection made by SetThru and not yet broken.
struct ThruEntry {
    WORD sourceChannel = 0;
    WORD destinationGroup = 0;
    WORD destinationChannel = 0;
    friend bool operator==(const ThruEntry&, const ThruEntry&) = default;
};

// The input side: activates an input port, runs a notification thread that reads the port's
// events and hands each to the application's receiver, and manages thru connections, which the
// platform forwards by itself on its own input thread.
//
// Threads: every operation runs on the dialog thread; the receiver is called on the
// notification thread. The notification thread owns shared references to what it reads (the
// port's input, its event buffer, the events), so a thread that has not acknowledged the stop
// in time can never touch a released port.
class CInputPort : public CMidiPort {
public:
    CInputPort();
    ~CInputPort() override;

    // Refused (-1) while the port is active or its notification still runs. Returns 0.
    int ActivatePort(const PortInfo* info, DWORD sysExSize);
    // Takes over an opened port; -1 for a null port. Returns 0.
    int ActivatePortFromInterface(std::unique_ptr<platform::music::IMusicPort> port,
                                  DWORD sysExSize);
    // Switches the port off and releases it, its buffer and thru interface; the thru list is
    // kept. Activate(FALSE)'s result, or -1 when no port was held. Never throws.
    HRESULT DeactivatePort();

    // -1 when the port is not active. Not owned; stays set across notification restarts.
    int SetReceiver(CMidiReceiver* receiver);
    // Starts the notification thread. Returns 0.
    int ActivateNotification();
    // Stops the notification thread and waits for it to leave (at most kStopTimeout). Returns
    // the result of clearing the port's notification handle, or -1 when the port is not active.
    // Never throws. Once it returns, the receiver is not called again by this thread.
    HRESULT DeactivateNotification();
    // Scheduling priority of the notification thread, in the platform's thread-priority steps
    // (0 normal, positive higher). Returns 1; -1 without a thread or when the system refuses.
    int SetThreadPriority(int priority);

    // Forwards source channel (group 1) to the destination's group and channel. Returns 0.
    int SetThru(DWORD sourceChannel, DWORD destinationGroup, DWORD destinationChannel,
                COutputPort& destination);
    // Removes that connection on the platform (always asked) and from the list. Returns 0.
    int BreakThru(DWORD sourceChannel, DWORD destinationGroup, DWORD destinationChannel);
    // Breaks every listed connection (results ignored) and empties the list: 0, or -1 without
    // a thru interface (the list is emptied all the same).
    int BreakAllThru();

    const std::vector<ThruEntry>& GetThruList() const { return m_thruList; }
    CMidiReceiver* GetReceiver() const { return m_receiver; }
    // True while a notification thread exists that has not acknowledged its stop.
    bool IsNotificationRunning() const { return m_notifyThread.joinable(); }

    static constexpr std::chrono::milliseconds kStopTimeout{30000};

private:
    struct Notification;
    static void NotificationThread(std::shared_ptr<Notification> state);

    std::shared_ptr<platform::music::AutoResetEvent> m_dataEvent;
    std::shared_ptr<Notification> m_notification;  // the running thread's state
    std::thread m_notifyThread;
    std::vector<ThruEntry> m_thruList;
    CMidiReceiver* m_receiver = nullptr;
    std::shared_ptr<platform::music::IMusicThru> m_thru;
};

}  // namespace musicport
