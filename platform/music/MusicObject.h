#pragma once

#include <memory>
#include <vector>

#include "platform/music/IMusic.h"
#include "platform/music/IPortBackend.h"

namespace platform::music {

// The music object over a table of backends: ports are numbered across backends in table
// order; the list is read anew whenever enumeration starts at index 0. With a mirror, every
// output port it opens also plays what it is given into the mirror.
class MusicObject final : public IMusic {
public:
    explicit MusicObject(std::vector<std::unique_ptr<IPortBackend>> backends,
                         std::shared_ptr<IMidiSink> mirror = nullptr);

    HRESULT SetDirectSound(void* soundObject, WindowHandle window) override;
    HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) override;
    HRESULT CreatePort(const GUID& portGuid, DMUS_PORTPARAMS8* params,
                       std::unique_ptr<IMusicPort>* port) override;
    HRESULT CreateMusicBuffer(const DMUS_BUFFERDESC* desc,
                              std::unique_ptr<IMusicBuffer>* buffer) override;
    // The system's monotonic clock first, then the backends' clocks in table order; the
    // monotonic clock is the master until another is set.
    HRESULT EnumMasterClock(DWORD index, DMUS_CLOCKINFO8* info) override;
    HRESULT SetMasterClock(const GUID& clockGuid) override;
    HRESULT GetMasterClock(GUID* clockGuid, std::shared_ptr<IReferenceClock>* clock) override;

private:
    struct Listed {
        DMUS_PORTCAPS caps;
        IPortBackend* backend;
    };
    void Relist();
    std::vector<ClockEntry> Clocks() const;

    std::vector<std::unique_ptr<IPortBackend>> backends_;
    std::shared_ptr<IMidiSink> mirror_;
    std::vector<Listed> ports_;
    bool soundSet_ = false;
    std::vector<ClockEntry> clocks_;  // as listed by the last EnumMasterClock(0)
    ClockEntry master_;
};

}  // namespace platform::music
