#pragma once

#include <string>
#include <vector>

#include "piano/CPianoListener.h"

// Records what the piano reports, as "on 36" / "off 36", in order.
class RecordingListener : public piano::CPianoListener {
public:
    void NoteOn(piano::BYTE note) override { events.push_back("on " + std::to_string(note)); }
    void NoteOff(piano::BYTE note) override { events.push_back("off " + std::to_string(note)); }

    std::vector<std::string> events;
};
