#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/IPortSelectionView.h"
#include "musicport/PortInfo.h"

namespace musicport {
class CCollection;
class CDirectMusic;
class CDLSLoader;
class CDMusicException;
class CInputPort;
class CInstrument;
class CMidiReceiver;
class COutputPort;
}  // namespace musicport

namespace app {

class IUserPrompts;

// The process-wide music-port objects, built before the dialog and destroyed after it.
struct MusicObjects {
    musicport::CDirectMusic& music;
    musicport::COutputPort& outputPort;
    musicport::CInputPort& inputPort;
    musicport::CDLSLoader& loader;
    musicport::CCollection& collection;
    musicport::CInstrument& instrument;
    musicport::CMidiReceiver& receiver;
};

// Port and instrument selection for the main dialog: brings the music ports up in order, fills
// the three lists, handles their selection changes and shuts the layer down. Every operation
// runs on the GUI thread under the performance lock, and reports failures as message boxes and
// debugger output. The dialog forwards to it.
class PortSelection {
public:
    PortSelection(MusicObjects objects, IUserPrompts& prompts);

    // The dialog's lists; null detaches.
    void Bind(IPortSelectionView* view) { m_view = view; }

    bool InitDirectMusic(void* window);
    void InitMusicPorts();
    void FillPortLists();
    void FillGMInstrumentList();
    void FillDLSInstrumentList();
    void OnSelchangeInstrument();
    void OnSelchangeOutputPort();
    void OnSelchangeInputPort();
    // Steps of the dialog's ShutdownAndClose; `closeStopEvent` is step 4 (the playback event).
    void Shutdown(const std::function<void()>& closeStopEvent);

    // Appends ports that have appeared since the lists were filled (positions and selections
    // stay); when the active input port has gone, releases what it left sounding through
    // `releaseInput` and stops listening to it. When that port comes back (a keyboard plugged
    // in again, a MIDI server restarted) while its entry is still the one shown, listens to it
    // again. Returns true when a list changed.
    bool RefreshPorts(const std::function<void()>& releaseInput);

    bool IsDlsMode() const { return m_bDlsPort != 0; }
    int OutputPortIndex() const { return m_nOutputPortIndex; }
    int InputPortIndex() const { return m_nInputPortIndex; }
    const std::vector<musicport::PortInfo>& OutputPorts() const { return m_outputs; }
    const std::vector<musicport::PortInfo>& InputPorts() const { return m_inputs; }

private:
    void Report(const musicport::CDMusicException& e);
    // Listens to input list entry `s`: true when it became the active input.
    bool ChooseInput(int s);
    void Show(std::string_view text);

    MusicObjects m_objects;
    IUserPrompts& m_prompts;
    IPortSelectionView* m_view = nullptr;

    int m_bDlsPort = 0;
    int m_nOutputPortIndex = -1;
    int m_nInputPortIndex = -1;
    // The entry of an active input port that has gone, while it is still shown.
    int m_lostInputIndex = -1;
    // The record of every list position, in list order.
    std::vector<musicport::PortInfo> m_outputs;
    std::vector<musicport::PortInfo> m_inputs;
};

}  // namespace app
