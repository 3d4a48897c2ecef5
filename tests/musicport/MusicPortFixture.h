#pragma once

// A fake platform with an input port listed before two output ports and one input port
// after them, a music object and an initialised output port.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "musicport/CDMusicException.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "platform/music/ResultCodes.h"
#include "tests/support/music/FakeMusicSystem.h"

namespace musicport::test {

namespace pm = platform::music;
using pm::fake::FakeMusicSystem;
using pm::fake::FakePort;

// The code and label of the CDMusicException `call` throws (code 0 and "no throw" when it
// throws nothing).
struct Thrown {
    HRESULT code = 0;
    std::string label = "no throw";
    std::string report;
};

inline Thrown Catch(const std::function<void()>& call) {
    try {
        call();
    } catch (const CDMusicException& e) {
        return {e.GetCode(), e.GetMemberFunction(), e.GetReport()};
    }
    return {};
}

class MusicPortFixture : public ::testing::Test {
protected:
    void SetUp() override {
        music.Initialize(nullptr, nullptr);
        port.Initialize(music);
        system.ClearLog();
    }

    PortInfo Info(DWORD number) {
        PortInfo info{};
        EXPECT_EQ(port.GetPortInfo(number, &info), pm::S_OK);
        return info;
    }
    void Activate(DWORD number) {
        const PortInfo info = Info(number);
        port.ActivatePort(&info, 32);
    }

    FakeMusicSystem system;
    FakePort& midiIn = system.AddPort("MIDI In", pm::DMUS_PC_INPUTCLASS);
    FakePort& synth = system.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS)
                          .Flags(pm::DMUS_PC_DLS | pm::DMUS_PC_SOFTWARESYNTH)
                          .EffectFlags(pm::DMUS_EFFECT_REVERB | pm::DMUS_EFFECT_CHORUS);
    FakePort& midiOut = system.AddPort("MIDI Out", pm::DMUS_PC_OUTPUTCLASS)
                            .Flags(pm::DMUS_PC_EXTERNAL)
                            .Type(pm::DMUS_PORT_WINMM_DRIVER);
    FakePort& keyboardIn = system.AddPort("Keyboard In", pm::DMUS_PC_INPUTCLASS);
    CDirectMusic music{system};
    COutputPort port;
};

}  // namespace musicport::test
