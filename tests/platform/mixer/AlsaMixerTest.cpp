// The ALSA mixer against a real PulseAudio server (null sink) through the ALSA pulse plug-in:
// what the mixer and the volume slider write is what `pactl` reports for the sink.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <cstdlib>

#include "performance/CPerformanceControls.h"
#include "performance/CSliderCtrl.h"
#include "performance/ControlsBinding.h"
#include "piano/CPianoCtrl.h"
#include "platform/mixer/AlsaMixer.h"
#include "tests/platform/mixer/SinkVolume.h"

namespace {

using platform::mixer::AlsaMixer;
using platform::mixer::MixerResult;
using platform::mixer::VolumeControl;

using tests::mixer::SetSinkVolume;
using tests::mixer::SinkVolume;

// Opened at once, or started ahead on a thread of its own: the outcome is the same.
void Open(AlsaMixer& mixer, bool ahead, MixerResult expected) {
    SCOPED_TRACE(ahead ? "opened ahead" : "opened at once");
    if (ahead)
        mixer.OpenAhead();
    EXPECT_EQ(mixer.Open(), expected);
}

TEST(AlsaMixerTest, AMissingDeviceIsNoDevice) {
    for (bool ahead : {false, true}) {
        AlsaMixer mixer("tunestead_no_such_device");
        Open(mixer, ahead, MixerResult::NoDevice);
        EXPECT_EQ(mixer.GetPlaybackLine(), MixerResult::NoLine);
        VolumeControl control;
        EXPECT_EQ(mixer.GetVolumeControl(control), MixerResult::NoControl);
    }
}

TEST(AlsaMixerTest, AMixerOpenedAheadAndNeverUsedClosesCleanly) {
    AlsaMixer mixer("tunestead_no_such_device");
    mixer.OpenAhead();
}

class AlsaMixerPulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "CI must run this with ./test, which starts PulseAudio";
            GTEST_SKIP() << "needs ./test's PulseAudio server (PULSE_SERVER)";
        }
        SetSinkVolume(65536);
    }
    // Other tests listen to the sink after its volume: leave it at full.
    void TearDown() override {
        if (std::getenv("PULSE_SERVER") != nullptr)
            SetSinkVolume(65536);
    }
};

TEST_F(AlsaMixerPulseTest, MasterIsTheSinkVolume) {
    for (bool ahead : {false, true}) {
        SetSinkVolume(65536);
        AlsaMixer mixer;
        Open(mixer, ahead, MixerResult::Ok);
        ASSERT_EQ(mixer.GetPlaybackLine(), MixerResult::Ok);
        EXPECT_EQ(mixer.ElementName(), "Master");
        VolumeControl control;
        ASSERT_EQ(mixer.GetVolumeControl(control), MixerResult::Ok);
        EXPECT_EQ(control.maximum, 65536u);

        std::uint32_t value = 0;
        ASSERT_EQ(mixer.GetValue(value), MixerResult::Ok);
        EXPECT_EQ(value, 65536u);
        ASSERT_EQ(mixer.SetValue(32768), MixerResult::Ok);
        EXPECT_EQ(SinkVolume(), 32768);
        ASSERT_EQ(mixer.GetValue(value), MixerResult::Ok);
        EXPECT_EQ(value, 32768u);
    }
}

TEST_F(AlsaMixerPulseTest, MovingTheVolumeSliderSetsTheSinkVolume) {
    SetSinkVolume(32768);
    AlsaMixer mixer;
    performance::CPerformanceControls controls(mixer);
    QWidget dialog;
    performance::CSliderCtrl pitch(&dialog);
    performance::CSliderCtrl volume(&dialog);
    QLabel keyName(&dialog);
    QComboBox noteRange(&dialog);
    piano::CPianoCtrl piano(&dialog);
    std::vector<std::string> boxes;
    performance::ControlsBinding binding(
        controls, {dialog, pitch, keyName, noteRange, volume, piano},
        {{}, [&](std::string_view text, std::string_view) { boxes.emplace_back(text); }, {}});
    binding.InitVolume();
    controls.InitMixer();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(volume.value(), 5);  // half of 65536

    struct Step {
        Qt::Key key;
        int sink;
    };
    for (const Step& step : {Step{Qt::Key_End, 0}, Step{Qt::Key_Home, 65536},
                             Step{Qt::Key_Down, 58982}, Step{Qt::Key_PageDown, 52428}}) {
        SCOPED_TRACE(step.key);
        QTest::keyClick(&volume, step.key);
        EXPECT_EQ(SinkVolume(), step.sink);
    }
}

}  // namespace
