#include "performance/ControlsBinding.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

#include "performance/CSliderCtrl.h"
#include "piano/CPianoCtrl.h"

namespace performance {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

ControlsBinding::ControlsBinding(CPerformanceControls& controls, Widgets widgets, Hooks hooks)
    : m_controls(controls), m_widgets(widgets), m_hooks(std::move(hooks)) {
    m_controls.SetView(this);
    connect(&m_widgets.pitch, &CSliderCtrl::ReleasedCapture, this,
            [this] { m_controls.OnReleasedCapturePitch(); });
    connect(&m_widgets.volume, &CSliderCtrl::ReleasedCapture, this,
            [this] { m_controls.OnReleasedCaptureVolume(); });
    // Only a choice the user makes is a selection change; start-up selects without one.
    connect(&m_widgets.noteRange, &QComboBox::activated, this,
            [this](int) { m_controls.OnSelChangeNoteRange(); });
}

ControlsBinding::~ControlsBinding() {
    m_controls.SetView(nullptr);
}

void ControlsBinding::InitNoteRange() {
    const QSignalBlocker block(&m_widgets.noteRange);
    m_widgets.noteRange.clear();
    for (const std::string_view text : kNoteRangeTexts)
        m_widgets.noteRange.addItem(FromUtf8(text));
    m_widgets.noteRange.setCurrentIndex(kStartupNoteRange);
}

void ControlsBinding::InitPitch() {
    const QSignalBlocker block(&m_widgets.pitch);
    m_widgets.pitch.setRange(-1, 1);
    m_widgets.pitch.setSingleStep(1);
    m_widgets.pitch.setPageStep(1);
    m_widgets.pitch.setTickInterval(1);
    m_widgets.pitch.setValue(0);
    m_controls.InitTranspose();
}

void ControlsBinding::InitVolume() {
    const QSignalBlocker block(&m_widgets.volume);
    m_widgets.volume.setRange(0, kVolumeSteps);
    m_widgets.volume.setSingleStep(1);
    m_widgets.volume.setPageStep(1);
    m_widgets.volume.setTickInterval(1);
}

int ControlsBinding::GetPitchPosition() const {
    return m_widgets.pitch.value();
}

void ControlsBinding::SetPitchPosition(int position) {
    const QSignalBlocker block(&m_widgets.pitch);
    m_widgets.pitch.setValue(position);
}

void ControlsBinding::SetKeyName(std::string_view name) {
    m_widgets.keyName.setText(FromUtf8(name));
}

int ControlsBinding::GetVolumePosition() const {
    return m_widgets.volume.value();
}

void ControlsBinding::SetVolumePosition(int position) {
    const QSignalBlocker block(&m_widgets.volume);
    m_widgets.volume.setValue(position);
}

int ControlsBinding::GetNoteRangeSelection() const {
    return m_widgets.noteRange.currentIndex();
}

void ControlsBinding::SetFirstNote(int note) {
    m_widgets.piano.SetFirstNote(note);
}

void ControlsBinding::AllNotesOff() {
    if (m_hooks.allNotesOff)
        m_hooks.allNotesOff();
}

void ControlsBinding::FocusDialog() {
    m_widgets.dialog.setFocus();
}

void ControlsBinding::ShowErrorBox(std::string_view text, std::string_view caption) {
    if (m_hooks.showErrorBox)
        m_hooks.showErrorBox(text, caption);
}

void ControlsBinding::PostQuitMessage(int code) {
    if (m_hooks.postQuitMessage)
        m_hooks.postQuitMessage(code);
}

}  // namespace performance
