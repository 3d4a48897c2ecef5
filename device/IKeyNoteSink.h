#pragma once

#include "device/KeyEvent.h"

namespace device {

// What the key-note map needs of the main dialog. All calls come on the GUI thread.
class IKeyNoteSink {
public:
    virtual ~IKeyNoteSink() = default;

    // The on-screen piano: show a key pressed or released; its leftmost key's note.
    virtual void PressKey(BYTE note) = 0;
    virtual void ReleaseKey(BYTE note) = 0;
    virtual int FirstNote() const = 0;
    // The note entry: on = 1 note-on, 0 note-off.
    virtual void PlayNote(BYTE note, BOOL on) = 0;
    // A row of the message list; the key bed's source tag is 4.
    virtual void AddMessage(BYTE note, BYTE velocity, int source) = 0;
    // The main dialog takes the keyboard focus.
    virtual void TakeFocus() = 0;
};

}  // namespace device
