#pragma once

#include <gtest/gtest.h>

#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "platform/music/ResultCodes.h"

namespace tests::fluidsynth {

// The application's start-up: the first output port, one channel group, its effects,
// 44100 Hz, a 32-byte system-exclusive size. Layer failures throw CDMusicException.
inline void ActivateFirstOutput(musicport::CDirectMusic& music, musicport::COutputPort& output,
                                musicport::PortInfo* info) {
    ASSERT_EQ(music.Initialize(nullptr, nullptr), 0);
    ASSERT_EQ(output.Initialize(music), 0);
    ASSERT_EQ(output.GetPortInfo(1, info), platform::music::S_OK);
    output.SetPortParams(0, 0, 1, info->dwEffectFlags, 44100);
    ASSERT_EQ(output.ActivatePort(info, 32), 0);
}

}  // namespace tests::fluidsynth
