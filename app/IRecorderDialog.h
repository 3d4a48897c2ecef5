#pragma once

class QAction;
class QWidget;

namespace piano {
class CPianoCtrl;
}  // namespace piano

namespace performance {
class CMidiListCtrl;
}  // namespace performance

namespace app {

// The parts of the main dialog the recorder's view drives: its window (parent of the file and
// text dialogs, receiver of posted tasks), its controls and menu commands by resource id, the
// piano, the message list, and the two handlers the song commands reuse. GUI thread only.
class IRecorderDialog {
public:
    virtual ~IRecorderDialog() = default;
    virtual QWidget& Window() = 0;
    virtual QWidget* Control(int id) const = 0;
    virtual QAction* Command(int id) const = 0;
    virtual piano::CPianoCtrl* Piano() const = 0;
    virtual performance::CMidiListCtrl* MessageList() const = 0;
    // Releases every key on the screen and sends All Notes Off.
    virtual void AllNotesOff() = 0;
    // The chosen output port's position in the list.
    virtual int OutputPortIndex() const = 0;
    // The instrument list's change handler, run for the current selection.
    virtual void OnSelchangeInstrument() = 0;
};

}  // namespace app
