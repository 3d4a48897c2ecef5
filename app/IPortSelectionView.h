#pragma once

#include <string_view>

#include "musicport/MidiMsg.h"

namespace app {

// The three selection lists and the dialog as port and instrument selection sees them.
// GUI thread.
class IPortSelectionView {
public:
    virtual ~IPortSelectionView() = default;
    // Output list: item data are the port's capability flags.
    virtual void AddOutputPort(std::string_view text, musicport::DWORD flags) = 0;
    virtual void SelectOutputPort(int position) = 0;
    virtual int OutputPortSelection() const = 0;
    virtual void AddInputPort(std::string_view text) = 0;
    virtual void SelectInputPort(int position) = 0;
    virtual int InputPortSelection() const = 0;
    virtual void ClearInstruments() = 0;
    virtual void AddInstrument(std::string_view text) = 0;
    virtual void SelectInstrument(int position) = 0;
    virtual int InstrumentSelection() const = 0;
    // Gives the keyboard focus back to the dialog window.
    virtual void FocusDialog() = 0;
    // The dialog's ShutdownAndClose (start-up failures end the dialog through it).
    virtual void ShutdownAndClose() = 0;
};

}  // namespace app
