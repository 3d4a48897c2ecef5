#pragma once

#include <memory>
#include <source_location>
#include <vector>

#include "musicport/MidiMsg.h"
#include "musicport/SegmentData.h"
#include "platform/music/ICollection.h"
#include "platform/music/IMusicPort.h"
#include "platform/music/ISegmentPlayer.h"

namespace musicport {

class CCollection;
class COutputPort;
class CSegmentLoader;

// A piece of music loaded from a MIDI file (CSegmentLoader), downloaded to ports and
// played on a port that offers segment playback (the built-in synthesizer). Play makes
// the segment state that the state accessors read. Failures throw CDMusicException: -1
// for a missing segment, state, port or out-pointer. One thread at a time.
class CSegment {
public:
    CSegment();
    // Releases the segment: unloads it from every port it is downloaded to first.
    ~CSegment();
    CSegment(const CSegment&) = delete;
    // Clones `source`'s segment (not its downloads or state); this segment is released
    // first. Throws -1 when `source` holds no segment.
    CSegment& operator=(const CSegment& source);

    // Downloads to / unloads from an active port; the port is added to / removed from the
    // segment's port list. With a connected collection, Download also downloads the
    // collection's instruments for the patches the segment's program changes select (those
    // the collection lacks are left to the port's own sounds; a port that takes no
    // downloads throws E_NOINTERFACE), and Unload takes them back. Unload from a port the
    // segment is not downloaded to throws DMUS_E_NOT_DOWNLOADED_TO_PORT. Each returns 0.
    int Download(COutputPort& port);
    int Unload(COutputPort& port);
    // Makes later downloads take the segment's instruments from `collection` instead of
    // the port's own General MIDI sounds. Throws -1 without a segment or a loaded
    // collection. Returns 0.
    int ConnectToDLS(CCollection& collection);

    // Segment accessors; each returns 0.
    int SetStartPoint(MUSIC_TIME start);
    int GetDefaultResolution(DWORD* resolution);
    int SetDefaultResolution(DWORD resolution);
    int SetLength(MUSIC_TIME length);
    int GetLength(MUSIC_TIME* length);
    int GetLoopPoints(MUSIC_TIME* start, MUSIC_TIME* end);
    int SetLoopPoints(MUSIC_TIME start, MUSIC_TIME end);
    int SetRepeats(DWORD repeats);
    int SetPChannelUsed(DWORD count, const DWORD* pchannels);

    // Plays the segment from its start point on `port`, which must offer segment playback;
    // replaces any state of an earlier Play. Returns 0.
    int Play(COutputPort& port);
    // Stops the playing segment. Returns 0; -1 (no throw) when it was not playing.
    int Stop();

    // State accessors (after Play); each returns 0.
    int GetRepeats(DWORD* repeats);
    // Music time the performance has reached now.
    int GetSeek(MUSIC_TIME* seek);
    // The segment the state plays (a copy of its content).
    int GetSegment(SegmentData* segment);
    int GetStartPoint(MUSIC_TIME* start);
    // When the performance started, on the playing port's clock (100-ns units).
    int GetStartTime(platform::music::REFERENCE_TIME* start);

    bool IsLoaded() const { return m_segment != nullptr; }

private:
    friend class CSegmentLoader;

    struct State {
        std::shared_ptr<const SegmentData> segment;
        std::vector<SegmentData::Pass> passes;
        std::shared_ptr<platform::music::ISegmentPlayer> player;
        std::shared_ptr<platform::music::IReferenceClock> clock;
        platform::music::REFERENCE_TIME startTime = 0;
    };

    // Unloads from every listed port, empties the list, drops the segment and its state.
    void Release();
    SegmentData& Require(const char* label,
                         std::source_location where = std::source_location::current());
    const State& RequireState(const char* label, const void* out,
                              std::source_location where = std::source_location::current());

    std::shared_ptr<SegmentData> m_segment;
    std::unique_ptr<State> m_state;
    // One port the segment is downloaded to, with the instruments downloaded there for it.
    // The port is only identified through `port`; its download interface is not kept alive,
    // so a port released before the segment is no danger.
    struct PortDownloads {
        const platform::music::IMusicPort* port = nullptr;
        std::weak_ptr<platform::music::IPortDownload> download;
        std::vector<std::shared_ptr<platform::music::IDownloadedInstrument>> instruments;
    };
    // Takes back the instruments downloaded for one port; the first failure, or S_OK.
    static HRESULT UnloadInstruments(PortDownloads& entry);

    std::shared_ptr<platform::music::ICollection> m_collection;
    const platform::music::IMusicPort* m_lastPort = nullptr;
    std::vector<PortDownloads> m_ports;
};

}  // namespace musicport
