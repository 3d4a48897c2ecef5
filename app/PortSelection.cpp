#include "app/PortSelection.h"

#include <algorithm>
#include <cstdio>

#include "app/IUserPrompts.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDMusicException.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "musicport/GMInstruments.h"
#include "performance/PerformanceLock.h"
#include "platform/log/DebugOutput.h"
#include "platform/music/ErrorInfo.h"
#include "platform/music/ResultCodes.h"
#include "res/Strings.h"

namespace app {

using musicport::BYTE;
using musicport::CDMusicException;
using musicport::DWORD;
using musicport::GetGMProgramName;
using musicport::MakeMidiMsg;
using musicport::PortInfo;
namespace pm = platform::music;

namespace {

// Every port is activated for system-exclusive messages of up to 32 bytes, every output port
// with one channel group at 44100 Hz; everything plays on channel 0 of group 0.
constexpr DWORD kSysExSize = 32;
constexpr DWORD kSampleRate = 44100;

bool IsDls(DWORD flags) {
    return (flags & (pm::DMUS_PC_DLS | pm::DMUS_PC_DLS2)) != 0;
}

bool SamePort(const PortInfo& a, const PortInfo& b) {
    return a.guidPort == b.guidPort;
}

}  // namespace

PortSelection::PortSelection(MusicObjects objects, IUserPrompts& prompts)
    : m_objects(objects), m_prompts(prompts) {}

void PortSelection::Report(const CDMusicException& e) {
    CDMusicException copy = e;
    platform::OutputDebugString(copy.GetReport());
}

void PortSelection::Show(std::string_view text) {
    m_prompts.ShowMessage(text, {}, PromptIcon::None);
}

bool PortSelection::InitDirectMusic(void* window) {
    try {
        m_objects.music.Initialize(window, nullptr);
        return true;
    } catch (const CDMusicException& e) {
        Show(res::kCannotInitializeSynth);
        Report(e);
        return false;
    }
}

void PortSelection::InitMusicPorts() {
    pm::TakeErrorInfo();  // a cause left from an earlier failure is not this one's
    try {
        m_objects.inputPort.Initialize(m_objects.music);
        m_objects.outputPort.Initialize(m_objects.music);
        m_objects.loader.Initialize();
        FillPortLists();
        m_objects.inputPort.SetReceiver(&m_objects.receiver);
        m_objects.inputPort.ActivateNotification();
        m_objects.inputPort.SetThru(0, 0, 0, m_objects.outputPort);
    } catch (const CDMusicException& e) {
        // -1 is the normal outcome without a usable input port: no input, no thru.
        if (e.GetCode() != -1) {
            // The platform's words for the cause (which file or server, what failed) go
            // beneath the fixed text.
            m_prompts.ShowDetailedMessage(res::kPortInitError, pm::TakeErrorInfo(), {},
                                          PromptIcon::None);
            if (m_view != nullptr)
                m_view->ShutdownAndClose();
        }
        Report(e);
    }
}

void PortSelection::FillPortLists() {
    const DWORD outputs = m_objects.outputPort.GetNumPorts();
    const DWORD inputs = m_objects.inputPort.GetNumPorts();
    for (DWORD k = 1; k <= outputs; ++k) {
        PortInfo info{};
        if (m_objects.outputPort.GetPortInfo(k, &info) != pm::S_OK)
            break;  // the list shrank while it was read
        m_outputs.push_back(info);
        m_view->AddOutputPort(info.szPortDescription.data(), info.dwFlags);
        if (k != 1)
            continue;
        m_objects.outputPort.SetPortParams(0, 0, 1, info.dwEffectFlags, kSampleRate);
        m_objects.outputPort.ActivatePort(&info, kSysExSize);
        m_nOutputPortIndex = 0;
        m_view->SelectOutputPort(0);
        if (IsDls(info.dwFlags)) {
            m_bDlsPort = 1;
            FillDLSInstrumentList();
        }
    }
    for (DWORD k = 1; k <= inputs; ++k) {
        PortInfo info{};
        if (m_objects.inputPort.GetPortInfo(k, &info) != pm::S_OK)
            break;
        if (info.dwType == pm::DMUS_PORT_KERNEL_MODE)
            continue;
        m_inputs.push_back(info);
        m_view->AddInputPort(info.szPortDescription.data());
        if (m_inputs.size() != 1)
            continue;
        m_objects.inputPort.ActivatePort(&info, kSysExSize);
        m_nInputPortIndex = 0;
        m_view->SelectInputPort(0);
    }
}

void PortSelection::FillGMInstrumentList() {
    for (int program = 0; program < 128; ++program)
        m_view->AddInstrument(GetGMProgramName(program));
    m_view->SelectInstrument(0);
}

void PortSelection::FillDLSInstrumentList() {
    try {
        m_objects.loader.LoadDLS(nullptr, m_objects.collection);
        m_view->ClearInstruments();
        for (DWORD i = 0;; ++i) {
            musicport::InstrumentInfo info;
            if (m_objects.collection.EnumInstrument(i, &info) != pm::S_OK)
                break;
            m_view->AddInstrument(std::to_string(i) + " " + info.szInstName.data());
        }
        m_view->SelectInstrument(0);
        OnSelchangeInstrument();
        m_objects.outputPort.SetEffect(pm::DMUS_EFFECT_REVERB | pm::DMUS_EFFECT_CHORUS);
    } catch (const CDMusicException& e) {
        if (e.GetCode() == pm::E_OUTOFMEMORY)
            Show(res::kInsufficientMemory);
        Report(e);
    }
}

void PortSelection::OnSelchangeInstrument() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    try {
        const int selection = m_view->InstrumentSelection();
        const BYTE p = selection < 0 ? BYTE{255} : BYTE(selection);
        BYTE program = p;
        if (m_bDlsPort != 0) {
            m_objects.outputPort.UnloadInstrument(m_objects.instrument);
            musicport::InstrumentInfo info;
            if (m_objects.collection.EnumInstrument(p, &info) == pm::S_FALSE)
                throw CDMusicException("CCollection::EnumIntrument()", pm::S_FALSE);
            m_objects.collection.GetInstrument(m_objects.instrument, &info);
            // Every chosen instrument answers program 1 of bank 0, whatever its own patch.
            m_objects.instrument.SetPatch(1);
            m_objects.instrument.SetNoteRange(0, 127);
            m_objects.outputPort.DownloadInstrument(m_objects.instrument);
            program = 1;
        }
        m_objects.outputPort.SendMidiMsg(MakeMidiMsg(0xC0, 0, program, 0), 0);
    } catch (const CDMusicException& e) {
        if (e.GetCode() == pm::S_FALSE)
            Show(res::kNoInstrument);
        else if (e.GetCode() == pm::DMUS_E_INVALIDPATCH)
            Show(res::kInvalidPatch);
        else if (e.GetCode() == pm::E_OUTOFMEMORY)
            Show(res::kInsufficientMemory);
        Report(e);
    }
}

void PortSelection::OnSelchangeOutputPort() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    const int s = m_view->OutputPortSelection();
    if (s == m_nOutputPortIndex)
        return;
    // Stays zeroed when the block fails before the record is read: General MIDI mode then.
    PortInfo info{};
    try {
        m_objects.outputPort.UnloadInstrument(m_objects.instrument);
        m_objects.outputPort.DeactivatePort();
        if (s < 0 || std::size_t(s) >= m_outputs.size())
            throw CDMusicException("CMidiPort::GetPortInfo()", -1);
        info = m_outputs[std::size_t(s)];
        m_objects.outputPort.SetPortParams(info.dwMaxVoices, info.dwMaxAudioChannels, 1,
                                           info.dwEffectFlags, kSampleRate);
        m_objects.outputPort.ActivatePort(&info, kSysExSize);
    } catch (const CDMusicException& e) {
        Show(e.GetCode() == pm::E_OUTOFMEMORY ? res::kInsufficientMemory
                                              : res::kOutputActivationError);
        Report(e);
    }
    if (!IsDls(info.dwFlags)) {
        m_bDlsPort = 0;
        m_view->ClearInstruments();
        FillGMInstrumentList();
    } else {
        m_bDlsPort = 1;
        FillDLSInstrumentList();
    }
    try {
        m_objects.inputPort.BreakThru(0, 0, 0);
        m_objects.inputPort.SetThru(0, 0, 0, m_objects.outputPort);
    } catch (const CDMusicException& e) {
        Report(e);
    }
    m_view->SelectInstrument(0);
    m_nOutputPortIndex = s;
    m_view->FocusDialog();
}

void PortSelection::OnSelchangeInputPort() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    const int s = m_view->InputPortSelection();
    if (s == m_nInputPortIndex)
        return;
    ChooseInput(s);
    m_view->FocusDialog();
}

bool PortSelection::ChooseInput(int s) {
    m_lostInputIndex = -1;
    try {
        // Stops the notification thread at once: the receiver never waits for this lock.
        m_objects.inputPort.DeactivateNotification();
        // Without an active port (none at start-up, the first one appeared later) there is
        // no thru to break and no receiver set yet.
        if (m_objects.inputPort.GetPort() != nullptr)
            m_objects.inputPort.BreakThru(0, 0, 0);
        m_objects.inputPort.DeactivatePort();
        if (s < 0 || std::size_t(s) >= m_inputs.size())
            throw CDMusicException("CMidiPort::GetPortInfo()", -1);
        const PortInfo info = m_inputs[std::size_t(s)];
        m_objects.inputPort.ActivatePort(&info, kSysExSize);
        if (m_objects.inputPort.GetReceiver() == nullptr)
            m_objects.inputPort.SetReceiver(&m_objects.receiver);
        m_objects.inputPort.ActivateNotification();
        m_objects.inputPort.SetThru(0, 0, 0, m_objects.outputPort);
        m_nInputPortIndex = s;
        return true;
    } catch (const CDMusicException& e) {
        if (e.GetCode() == pm::E_OUTOFMEMORY)
            Show(res::kInsufficientMemory);
        Report(e);
        return false;
    }
}

void PortSelection::Shutdown(const std::function<void()>& closeStopEvent) {
    try {
        m_objects.outputPort.SendMidiMsg(MakeMidiMsg(0xB0, 0, 123, 0), 0);
        m_objects.loader.UnloadCollection(m_objects.collection);
        m_objects.outputPort.UnloadInstrument(m_objects.instrument);
        if (closeStopEvent)
            closeStopEvent();
        m_objects.inputPort.BreakThru(0, 0, 0);
        m_objects.inputPort.DeactivateNotification();
    } catch (const CDMusicException& e) {
        Report(e);
    }
}

bool PortSelection::RefreshPorts(const std::function<void()>& releaseInput) {
    if (m_view == nullptr)
        return false;
    bool changed = false;
    std::vector<PortInfo> inputsNow;
    try {
        const DWORD outputs = m_objects.outputPort.GetNumPorts();
        for (DWORD k = 1; k <= outputs; ++k) {
            PortInfo info{};
            if (m_objects.outputPort.GetPortInfo(k, &info) != pm::S_OK)
                break;
            const auto same = [&](const PortInfo& p) { return SamePort(p, info); };
            if (std::none_of(m_outputs.begin(), m_outputs.end(), same)) {
                m_outputs.push_back(info);
                m_view->AddOutputPort(info.szPortDescription.data(), info.dwFlags);
                changed = true;
            }
        }
        const DWORD inputs = m_objects.inputPort.GetNumPorts();
        for (DWORD k = 1; k <= inputs; ++k) {
            PortInfo info{};
            if (m_objects.inputPort.GetPortInfo(k, &info) != pm::S_OK)
                break;
            if (info.dwType == pm::DMUS_PORT_KERNEL_MODE)
                continue;
            inputsNow.push_back(info);
            const auto same = [&](const PortInfo& p) { return SamePort(p, info); };
            if (std::none_of(m_inputs.begin(), m_inputs.end(), same)) {
                m_inputs.push_back(info);
                m_view->AddInputPort(info.szPortDescription.data());
                changed = true;
            }
        }
    } catch (const CDMusicException& e) {
        Report(e);
        return changed;
    }
    if (m_nInputPortIndex >= 0) {
        const PortInfo& active = m_inputs[std::size_t(m_nInputPortIndex)];
        const auto same = [&](const PortInfo& p) { return SamePort(p, active); };
        if (std::none_of(inputsNow.begin(), inputsNow.end(), same)) {
            // The port the notes came from has gone: nothing will release them but us. The
            // port object stays (with its thru list) so that picking an entry later works.
            m_objects.inputPort.DeactivateNotification();
            if (releaseInput)
                releaseInput();
            m_lostInputIndex = m_nInputPortIndex;
            m_nInputPortIndex = -1;
            platform::OutputDebugString("The MIDI input port has gone: " +
                                        std::string(active.szPortDescription.data()));
            return changed;
        }
    }
    if (m_lostInputIndex >= 0 && m_nInputPortIndex < 0) {
        const PortInfo& lost = m_inputs[std::size_t(m_lostInputIndex)];
        const auto same = [&](const PortInfo& p) { return SamePort(p, lost); };
        const bool back = std::any_of(inputsNow.begin(), inputsNow.end(), same);
        if (back && m_view->InputPortSelection() == m_lostInputIndex) {
            // One try: should it fail, choosing the entry again tries once more.
            performance::PerformanceGuard lock(performance::PerformanceLock());
            if (ChooseInput(m_lostInputIndex))
                platform::OutputDebugString("The MIDI input port is back: " +
                                            std::string(lost.szPortDescription.data()));
        } else if (m_view->InputPortSelection() != m_lostInputIndex) {
            m_lostInputIndex = -1;  // another entry is shown now
        }
    }
    return changed;
}

}  // namespace app
