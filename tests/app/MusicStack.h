#pragma once

// The process-wide music objects as the program builds them, over one music system: what a
// test or benchmark needs to give the main dialog its ports and instruments.

#include "app/CInputReceiver.h"
#include "app/IUserPrompts.h"
#include "app/PortSelection.h"
#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDirectMusic.h"
#include "musicport/CInputPort.h"
#include "musicport/CInstrument.h"
#include "musicport/COutputPort.h"
#include "platform/music/IMusicSystem.h"

namespace tests {

struct MusicStack {
    MusicStack(platform::music::IMusicSystem& system, app::IUserPrompts& prompts)
        : music(system),
          loader(system),
          ports({music, outputPort, inputPort, loader, collection, instrument, receiver}, prompts) {
    }

    musicport::CDirectMusic music;
    musicport::COutputPort outputPort;
    app::CInputReceiver receiver;  // outlives the input port's notification thread
    musicport::CInputPort inputPort;
    musicport::CDLSLoader loader;
    musicport::CCollection collection;
    musicport::CInstrument instrument;
    app::PortSelection ports;
};

}  // namespace tests
