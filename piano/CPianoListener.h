#pragma once

#include "piano/CPianoItem.h"

namespace piano {

// Receives the keys played with the mouse on CPianoCtrl. Called on the GUI thread with the
// performance lock held. Owned by whoever implements it; the control keeps a plain pointer.
class CPianoListener {
public:
    virtual void NoteOn(BYTE note) = 0;
    virtual void NoteOff(BYTE note) = 0;
    virtual ~CPianoListener() = default;
};

}  // namespace piano
