#include "performance/CPerformanceControls.h"

namespace performance {

using platform::mixer::MixerResult;

void CPerformanceControls::MixerFailure(std::string_view text) {
    if (m_view == nullptr)
        return;
    m_view->ShowErrorBox(text, kErrorCaption);
    m_view->PostQuitMessage(kQuitCode);
}

void CPerformanceControls::InitMixer() {
    // Each failing step shows its own box and asks to quit; the steps after it still run, so a
    // machine without a mixer shows all three boxes before the application ends.
    m_lastResult = m_mixer.Open();
    m_bMixerOpen = m_lastResult == MixerResult::Ok;
    if (!m_bMixerOpen)
        MixerFailure(kOpenDeviceFailed);
    m_lastResult = m_mixer.GetPlaybackLine();
    m_bLineFound = m_lastResult == MixerResult::Ok;
    if (!m_bLineFound)
        MixerFailure(kOpenLineFailed);
    ReadMasterVolume();
    // After a failed look-up the control record is empty: a maximum of 0 puts the thumb at
    // the top and every later write at 0.
    m_dwVolumeMaximum = m_control.maximum;
    if (m_view != nullptr)
        m_view->SetVolumePosition(VolumeToSliderPosition(m_dwVolumeMaximum, m_dwVolumeValue));
}

bool CPerformanceControls::LookUpVolumeControl() {
    m_control = {};
    m_lastResult = m_mixer.GetVolumeControl(m_control);
    if (m_lastResult == MixerResult::Ok)
        return true;
    MixerFailure(kNoVolumeControl);
    return false;
}

bool CPerformanceControls::ReadMasterVolume() {
    const bool found = LookUpVolumeControl();
    // The read goes on after a failed look-up; its result is kept, not examined.
    m_lastResult = m_mixer.GetValue(m_dwVolumeValue);
    return found;
}

bool CPerformanceControls::SetMasterVolume(std::uint32_t value) {
    const bool found = LookUpVolumeControl();
    m_dwVolumeValue = value;
    m_lastResult = m_mixer.SetValue(m_dwVolumeValue);
    return found;
}

void CPerformanceControls::OnReleasedCapturePitch() {
    if (m_view == nullptr)
        return;
    const int position = m_view->GetPitchPosition();
    if (position != 0) {
        // The thumb springs back to the middle; each release is one semitone.
        m_view->SetPitchPosition(0);
        m_nTransposeBase = NextTransposeBase(m_nTransposeBase, position);
        m_view->SetKeyName(KeyName(m_nTransposeBase));
        m_view->SetFirstNote(m_nTransposeBase);
    }
    m_view->FocusDialog();
}

void CPerformanceControls::OnSelChangeNoteRange() {
    if (m_view == nullptr)
        return;
    const int entry = m_view->GetNoteRangeSelection();
    if (entry < 0 || entry >= int(kNoteRangeTexts.size()))
        return;
    m_view->AllNotesOff();
    m_view->SetFirstNote(FirstNoteOfRange(entry));
}

void CPerformanceControls::OnReleasedCaptureVolume() {
    if (m_view == nullptr)
        return;
    const int position = m_view->GetVolumePosition();
    SetMasterVolume(SliderPositionToVolume(m_dwVolumeMaximum, position));
    m_view->FocusDialog();
}

}  // namespace performance
