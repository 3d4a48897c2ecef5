#include "musicport/CMasterClock.h"

#include "musicport/CDMusicException.h"
#include "musicport/ThrowIfFailed.h"
#include "musicport/Utf8Text.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kInitialize = "CMasterClock::Initialize()";
constexpr const char* kGetNumClocks = "CMasterClock::GetNumClocks()";
constexpr const char* kGetClockInfo = "CMasterClock::GetClockInfo()";
constexpr const char* kActivate = "CMasterClock::ActivateMasterClock()";

}  // namespace

int CMasterClock::Initialize(CDirectMusic& music) {
    if (music.GetMusic() == nullptr)
        throw CDMusicException(kInitialize, -1);
    m_music = music.GetMusic();
    return 0;
}

DWORD CMasterClock::GetNumClocks() {
    if (m_music == nullptr)
        throw CDMusicException(kGetNumClocks, -1);
    pm::DMUS_CLOCKINFO8 info;
    DWORD count = 0;
    for (;; ++count) {
        info = {};
        info.dwSize = sizeof info;
        const HRESULT hr = m_music->EnumMasterClock(count, &info);
        if (hr != pm::S_OK) {
            ThrowIfFailed(hr, kGetNumClocks);
            return count;  // S_FALSE: the end of the list
        }
    }
}

HRESULT CMasterClock::GetClockInfo(DWORD clockNumber, ClockInfo* info) {
    if (m_music == nullptr || info == nullptr)
        throw CDMusicException(kGetClockInfo, -1);
    if (clockNumber == 0)
        return pm::S_FALSE;  // numbers start at 1
    pm::DMUS_CLOCKINFO8 caps;
    caps.dwSize = sizeof caps;
    const HRESULT hr = m_music->EnumMasterClock(clockNumber - 1, &caps);
    if (hr != pm::S_OK) {
        ThrowIfFailed(hr, kGetClockInfo);
        return pm::S_FALSE;
    }
    *info = ClockInfo{};
    info->ctType = caps.ctType;
    info->guidClock = caps.guidClock;
    Utf16ToUtf8(info->szClockDescription,
                std::u16string_view(caps.wszDescription.data(), caps.wszDescription.size()));
    info->dwFlags = caps.dwFlags;
    return pm::S_OK;
}

int CMasterClock::ActivateMasterClock(ClockInfo* info) {
    if (m_music == nullptr || info == nullptr)
        throw CDMusicException(kActivate, -1);
    ThrowIfFailed(m_music->SetMasterClock(info->guidClock), kActivate);
    std::shared_ptr<pm::IReferenceClock> clock;
    ThrowIfFailed(m_music->GetMasterClock(&info->guidClock, &clock), kActivate);
    if (!clock)
        throw CDMusicException(kActivate, -1);
    m_clock = std::move(clock);
    return 0;
}

}  // namespace musicport
