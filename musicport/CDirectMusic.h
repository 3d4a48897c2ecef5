#pragma once

#include <memory>

#include "musicport/MidiMsg.h"
#include "platform/music/IMusic.h"
#include "platform/music/IMusicSystem.h"

namespace musicport {

// The application's music object. Create one per process, before the port objects, and
// destroy it after them: ports borrow its IMusic.
// No COM start-up here: the music system is an ordinary object that needs no per-thread
// initialisation, so construction and destruction only bind and release the music object.
class CDirectMusic {
public:
    explicit CDirectMusic(platform::music::IMusicSystem& system);
    ~CDirectMusic();
    CDirectMusic(const CDirectMusic&) = delete;
    CDirectMusic& operator=(const CDirectMusic&) = delete;

    // Creates the music object and binds it to `hWnd`; a null `pDirectSound` lets the music
    // object manage its own audio output. Returns 0; throws the failing call's result, and
    // -1 when already initialised (ports may hold the current music object). On failure
    // nothing is kept.
    int Initialize(platform::music::WindowHandle hWnd, void* pDirectSound);

    // The music object, null until Initialize succeeds. Owned here; ports borrow it.
    platform::music::IMusic* GetMusic() const { return m_music.get(); }

private:
    platform::music::IMusicSystem& m_system;
    std::unique_ptr<platform::music::IMusic> m_music;
};

}  // namespace musicport
