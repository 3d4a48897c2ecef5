#include "musicport/CInputPort.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "musicport/CDMusicException.h"
#include "musicport/COutputPort.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kActivatePort = "CInputPort::ActivatePort()";
constexpr const char* kSetReceiver = "CInputPort::SetReceiver()";
constexpr const char* kActivateNotification = "CInputPort::ActivateNotification()";
constexpr const char* kSetThreadPriority = "CInputPort::SetThreadPriority()";
constexpr const char* kSetThru = "CInputPort::SetThru()";
constexpr const char* kBreakThru = "CInputPort::BreakThru()";

// Input ports carry one channel group; thru connections always name it.
constexpr DWORD kSourceGroup = 1;
}  // namespace

// What the notification thread uses, shared so that it stays valid for a thread that is
// still inside the receiver when the dialog thread has gone on.
struct CInputPort::Notification {
    std::shared_ptr<pm::IMidiInput> input;
    std::shared_ptr<pm::IMusicBuffer> buffer;
    std::shared_ptr<pm::AutoResetEvent> dataEvent;
    pm::AutoResetEvent exitAcknowledge;
    std::atomic<bool> running{true};
    std::atomic<pid_t> threadId{0};
    CMidiReceiver* receiver = nullptr;
};

CInputPort::CInputPort() : CMidiPort(pm::DMUS_PC_INPUTCLASS) {}

CInputPort::~CInputPort() {
    if (m_dataEvent || m_notifyThread.joinable())
        DeactivateNotification();
    if (!m_thruList.empty())
        BreakAllThru();
    DeactivatePort();
}

int CInputPort::ActivatePort(const PortInfo* info, DWORD sysExSize) {
    if (m_thru || m_dataEvent || m_notification)
        throw CDMusicException(kActivatePort, -1);
    CMidiPort::ActivatePort(info, sysExSize, pm::FALSE);
    const HRESULT hr = m_port->QueryThru(&m_thru);
    if (pm::Failed(hr) || !m_thru) {
        m_thru.reset();
        throw CDMusicException(kActivatePort, pm::Failed(hr) ? hr : -1);
    }
    return 0;
}

int CInputPort::ActivatePortFromInterface(std::unique_ptr<pm::IMusicPort> port, DWORD sysExSize) {
    if (!port || m_port || m_thru || m_dataEvent || m_notification)
        throw CDMusicException(kActivatePort, -1);
    m_port = std::move(port);
    CMidiPort::ActivatePort(nullptr, sysExSize, pm::TRUE);
    const HRESULT hr = m_port->QueryThru(&m_thru);
    if (pm::Failed(hr) || !m_thru) {
        m_thru.reset();
        throw CDMusicException(kActivatePort, pm::Failed(hr) ? hr : -1);
    }
    return 0;
}

HRESULT CInputPort::DeactivatePort() {
    HRESULT hr = -1;
    if (m_port)
        hr = m_port->Activate(pm::FALSE);
    m_thru.reset();
    m_buffer.reset();
    m_port.reset();
    return hr;
}

int CInputPort::SetReceiver(CMidiReceiver* receiver) {
    if (!m_port)
        throw CDMusicException(kSetReceiver, -1);
    m_receiver = receiver;
    return 0;
}

int CInputPort::ActivateNotification() {
    // The data event exists from here on, even when a later step fails: the port then
    // refuses reactivation until DeactivateNotification has run.
    m_dataEvent = std::make_shared<pm::AutoResetEvent>();
    if (m_receiver == nullptr || !m_port || !m_buffer || m_notification)
        throw CDMusicException(kActivateNotification, -1);
    auto state = std::make_shared<Notification>();
    HRESULT hr = m_port->QueryMidiInput(&state->input);
    if (pm::Failed(hr) || !state->input)
        throw CDMusicException(kActivateNotification, pm::Failed(hr) ? hr : -1);
    hr = state->input->SetReadNotificationHandle(m_dataEvent);
    if (pm::Failed(hr))
        throw CDMusicException(kActivateNotification, hr);
    state->buffer = m_buffer;
    state->dataEvent = m_dataEvent;
    state->receiver = m_receiver;
    m_notification = state;
    try {
        m_notifyThread = std::thread(&CInputPort::NotificationThread, std::move(state));
    } catch (const std::system_error&) {
        m_notification.reset();
        throw CDMusicException(kActivateNotification, -1);
    }
    return 0;
}

void CInputPort::NotificationThread(std::shared_ptr<Notification> state) {
    state->threadId = gettid();
    Notification& s = *state;
    while (s.running) {
        s.dataEvent->Wait();
        if (!s.running)
            break;
        // Read passes until the port has nothing more. A failing read ends the pass: the
        // thread waits for the next notification instead of spinning on the failure.
        for (;;) {
            if (s.input->Read(*s.buffer) != pm::S_OK)
                break;
            s.buffer->ResetReadPtr();
            if (!s.running)
                break;
            REFERENCE_TIME time = 0;
            DWORD group = 0;
            DWORD length = 0;
            const BYTE* data = nullptr;
            while (s.running && s.buffer->GetNextEvent(&time, &group, &length, &data) == pm::S_OK) {
                if (length > 3) {
                    s.receiver->ReceiveMidiMsg(time, group, length, data);
                } else if (length > 0) {
                    DWORD message = 0;
                    for (DWORD i = 0; i < length; ++i)
                        message |= DWORD{data[i]} << (8 * i);
                    s.receiver->ReceiveMidiMsg(time, group, message);
                }
            }
            if (!s.running)
                break;
        }
    }
    s.exitAcknowledge.Set();
}

HRESULT CInputPort::DeactivateNotification() {
    HRESULT hr = -1;
    std::shared_ptr<Notification> state = std::move(m_notification);
    if (m_port && state)
        hr = state->input->SetReadNotificationHandle(nullptr);
    else if (m_port)
        hr = pm::S_OK;
    if (state) {
        state->running = false;
        state->dataEvent->Set();
    }
    m_dataEvent.reset();
    if (m_notifyThread.joinable()) {
        // A receiver that hands events on acknowledges at once. One that stays blocked (for
        // example on a lock this thread holds) is left behind after the limit; it holds its
        // own references and stops at its next check of the running flag.
        if (state->exitAcknowledge.WaitFor(kStopTimeout))
            m_notifyThread.join();
        else
            m_notifyThread.detach();
    }
    return hr;
}

int CInputPort::SetThreadPriority(int priority) {
    if (!m_notification || m_notification->threadId == 0)
        throw CDMusicException(kSetThreadPriority, -1);
    // One priority step is five nice levels; normal priority is nice 0.
    const int nice = std::clamp(-5 * priority, -20, 19);
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(m_notification->threadId.load()), nice) != 0)
        throw CDMusicException(kSetThreadPriority, -1);
    return 1;
}

int CInputPort::SetThru(DWORD sourceChannel, DWORD destinationGroup, DWORD destinationChannel,
                        COutputPort& destination) {
    if (!m_thru)
        throw CDMusicException(kSetThru, -1);
    const HRESULT hr = m_thru->ThruChannel(kSourceGroup, sourceChannel, destinationGroup,
                                           destinationChannel, destination.GetPort());
    if (pm::Failed(hr))
        throw CDMusicException(kSetThru, hr);
    const ThruEntry entry{WORD(sourceChannel), WORD(destinationGroup), WORD(destinationChannel)};
    if (std::find(m_thruList.begin(), m_thruList.end(), entry) == m_thruList.end())
        m_thruList.push_back(entry);
    return 0;
}

int CInputPort::BreakThru(DWORD sourceChannel, DWORD destinationGroup, DWORD destinationChannel) {
    if (!m_thru)
        throw CDMusicException(kBreakThru, -1);
    const HRESULT hr = m_thru->ThruChannel(kSourceGroup, sourceChannel, destinationGroup,
                                           destinationChannel, nullptr);
    if (pm::Failed(hr))
        throw CDMusicException(kBreakThru, hr);
    std::erase(m_thruList,
               ThruEntry{WORD(sourceChannel), WORD(destinationGroup), WORD(destinationChannel)});
    return 0;
}

int CInputPort::BreakAllThru() {
    int result = -1;
    if (m_thru) {
        for (const ThruEntry& e : m_thruList)
            m_thru->ThruChannel(kSourceGroup, e.sourceChannel, e.destinationGroup,
                                e.destinationChannel, nullptr);
        result = 0;
    }
    m_thruList.clear();
    return result;
}

}  // namespace musicport
