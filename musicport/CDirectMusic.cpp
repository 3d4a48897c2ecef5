#include "musicport/CDirectMusic.h"

#include "musicport/CDMusicException.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kInitialize = "CDirectMusic::Initialize()";
}

CDirectMusic::CDirectMusic(pm::IMusicSystem& system) : m_system(system) {}

CDirectMusic::~CDirectMusic() = default;

int CDirectMusic::Initialize(pm::WindowHandle hWnd, void* pDirectSound) {
    if (m_music)
        throw CDMusicException(kInitialize, -1);
    std::unique_ptr<pm::IMusic> music;
    HRESULT hr = m_system.CreateMusic(&music);
    if (pm::Failed(hr))
        throw CDMusicException(kInitialize, hr);
    if (!music)
        throw CDMusicException(kInitialize, -1);
    hr = music->SetDirectSound(pDirectSound, hWnd);
    if (pm::Failed(hr))
        throw CDMusicException(kInitialize, hr);
    m_music = std::move(music);
    return 0;
}

}  // namespace musicport
