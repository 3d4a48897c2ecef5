#pragma once

#include <QObject>
#include <functional>

#include "performance/CPerformanceControls.h"
#include "performance/IControlsView.h"

class QComboBox;
class QLabel;
class QWidget;

namespace piano {
class CPianoCtrl;
}  // namespace piano

namespace performance {

class CSliderCtrl;

// The dialog's pitch slider, key-name label, note-range selector and volume slider bound to
// the control logic: sets them up at start-up, forwards their notifications, and is the
// view the logic works through. GUI thread only.
class ControlsBinding final : public QObject, public IControlsView {
    Q_OBJECT

public:
    struct Widgets {
        QWidget& dialog;
        CSliderCtrl& pitch;
        QLabel& keyName;
        QComboBox& noteRange;
        CSliderCtrl& volume;
        piano::CPianoCtrl& piano;
    };
    struct Hooks {
        std::function<void()> allNotesOff;
        std::function<void(std::string_view text, std::string_view caption)> showErrorBox;
        std::function<void(int code)> postQuitMessage;
    };

    ControlsBinding(CPerformanceControls& controls, Widgets widgets, Hooks hooks);
    ~ControlsBinding() override;

    // Start-up: the note range's seven entries with entry 3 selected (no notification).
    void InitNoteRange();
    // Start-up: the pitch slider -1 … 1 at 0 and the transpose base 36.
    void InitPitch();
    // Start-up: the volume slider 0 … 10.
    void InitVolume();

    int GetPitchPosition() const override;
    void SetPitchPosition(int position) override;
    void SetKeyName(std::string_view name) override;
    int GetVolumePosition() const override;
    void SetVolumePosition(int position) override;
    int GetNoteRangeSelection() const override;
    void SetFirstNote(int note) override;
    void AllNotesOff() override;
    void FocusDialog() override;
    void ShowErrorBox(std::string_view text, std::string_view caption) override;
    void PostQuitMessage(int code) override;

private:
    CPerformanceControls& m_controls;
    Widgets m_widgets;
    Hooks m_hooks;
};

}  // namespace performance
