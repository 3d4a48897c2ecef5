#pragma once

#include <cstdint>
#include <string_view>

#include "performance/ControlMappings.h"
#include "performance/IControlsView.h"
#include "platform/mixer/IMixer.h"

namespace performance {

// The pitch slider, the note-range selector and the volume slider with the system mixer.
// The transpose base set here is also the reference of the note routing's cut-off.
// GUI thread only.
class CPerformanceControls {
public:
    static constexpr std::string_view kErrorCaption = "错误";
    static constexpr std::string_view kOpenDeviceFailed = "打开音频设备失败!";
    static constexpr std::string_view kOpenLineFailed = "打开通道失败!";
    static constexpr std::string_view kNoVolumeControl = "获取音频控制器失败!";
    static constexpr int kQuitCode = -1;

    // `mixer` must outlive this object.
    explicit CPerformanceControls(platform::mixer::IMixer& mixer) : m_mixer(mixer) {}

    // The dialog that shows the controls; null detaches it.
    void SetView(IControlsView* view) { m_view = view; }

    // Start-up: the transpose base at 36.
    void InitTranspose() { m_nTransposeBase = kStartupTransposeBase; }
    // Start-up: opens the mixer, finds its playback line, reads the volume and places the
    // volume slider. Each failure shows its box and asks the application to quit with -1;
    // the later steps still run.
    void InitMixer();

    // The user let go of the pitch slider.
    void OnReleasedCapturePitch();
    // The user picked a note range.
    void OnSelChangeNoteRange();
    // The user let go of the volume slider.
    void OnReleasedCaptureVolume();

    // Looks the volume control up and reads its value. False when the look-up failed.
    bool ReadMasterVolume();
    // Looks the volume control up and writes `value`. False when the look-up failed.
    bool SetMasterVolume(std::uint32_t value);

    int TransposeBase() const { return m_nTransposeBase; }
    std::uint32_t VolumeMaximum() const { return m_dwVolumeMaximum; }
    std::uint32_t VolumeValue() const { return m_dwVolumeValue; }
    platform::mixer::MixerResult LastMixerResult() const { return m_lastResult; }

private:
    void MixerFailure(std::string_view text);
    bool LookUpVolumeControl();

    platform::mixer::IMixer& m_mixer;
    IControlsView* m_view = nullptr;

    int m_nTransposeBase = kStartupTransposeBase;
    bool m_bMixerOpen = false;
    bool m_bLineFound = false;
    platform::mixer::MixerResult m_lastResult = platform::mixer::MixerResult::Ok;
    platform::mixer::VolumeControl m_control;
    std::uint32_t m_dwVolumeValue = 0;
    std::uint32_t m_dwVolumeMaximum = 65535;
};

}  // namespace performance
