#include "musicport/CSegment.h"

#include <algorithm>
#include <new>

#include "musicport/CCollection.h"
#include "musicport/CDMusicException.h"
#include "musicport/COutputPort.h"
#include "musicport/ThrowIfFailed.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kDownload = "CSegment::Download()";
constexpr const char* kUnload = "CSegment::Unload()";
constexpr const char* kConnectToDLS = "CSegment::ConnectToDLS()";
constexpr const char* kGetRepeats = "CSegment::GetRepeats()";
constexpr const char* kGetSeek = "CSegment::GetSeek()";
constexpr const char* kGetSegment = "CSegment::GetSegment()";
constexpr const char* kSetStartPoint = "CSegment::SetStartPoint()";
constexpr const char* kGetStartPoint = "CSegment::GetStartPoint()";
constexpr const char* kGetStartTime = "CSegment::GetStartTime()";
constexpr const char* kSetDefaultResolution = "CSegment::SetDefaultResolution()";
constexpr const char* kGetDefaultResolution = "CSegment::GetDefaultResolution()";
constexpr const char* kSetLength = "CSegment::SetLength()";
constexpr const char* kGetLength = "CSegment::GetLength()";
constexpr const char* kGetLoopPoints = "CSegment::GetLoopPoints()";
constexpr const char* kSetLoopPoints = "CSegment::SetLoopPoints()";
constexpr const char* kSetRepeats = "CSegment::SetRepeats()";
constexpr const char* kSetPChannelUsed = "CSegment::SetPChannelUsed()";
constexpr const char* kAssign = "(CSegment)CSegment::operator=(CSegment)";
constexpr const char* kPlay = "CSegment::Play()";

// Messages one Play schedules at most: an endless loop stops after this many.
constexpr std::size_t kMaxScheduled = 1'000'000;

// Runs `call`; memory running out inside it is reported as the layer's E_OUTOFMEMORY.
template <class Call>
decltype(auto) OutOfMemoryAs(const char* label, Call&& call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        throw CDMusicException(label, pm::E_OUTOFMEMORY);
    }
}

}  // namespace

CSegment::CSegment() = default;

CSegment::~CSegment() {
    Release();
}

CSegment& CSegment::operator=(const CSegment& source) {
    if (!source.m_segment)
        throw CDMusicException(kAssign, -1);
    if (this == &source)
        return *this;
    auto clone =
        OutOfMemoryAs(kAssign, [&] { return std::make_shared<SegmentData>(*source.m_segment); });
    Release();
    m_segment = std::move(clone);
    m_collection = source.m_collection;
    return *this;
}

void CSegment::Release() {
    Stop();
    for (PortDownloads& entry : m_ports)
        UnloadInstruments(entry);
    m_ports.clear();
    m_lastPort = nullptr;
    m_state.reset();
    m_segment.reset();
    m_collection.reset();
}

HRESULT CSegment::UnloadInstruments(PortDownloads& entry) {
    HRESULT first = pm::S_OK;
    if (const auto download = entry.download.lock()) {
        for (const auto& instrument : entry.instruments) {
            const HRESULT hr = download->UnloadInstrument(*instrument);
            if (pm::Failed(hr) && !pm::Failed(first))
                first = hr;
        }
    }
    entry.instruments.clear();
    return first;
}

SegmentData& CSegment::Require(const char* label, std::source_location where) {
    if (!m_segment)
        throw CDMusicException(label, -1, where);
    return *m_segment;
}

const CSegment::State& CSegment::RequireState(const char* label, const void* out,
                                              std::source_location where) {
    if (!m_state || out == nullptr)
        throw CDMusicException(label, -1, where);
    return *m_state;
}

int CSegment::Download(COutputPort& port) {
    if (!m_segment || !port.m_port)
        throw CDMusicException(kDownload, -1);
    PortDownloads entry{port.m_port.get(), port.m_portDownload, {}};
    const std::vector<DWORD> patches =
        m_collection ? OutOfMemoryAs(kDownload, [&] { return m_segment->ProgramPatches(); })
                     : std::vector<DWORD>{};
    if (!patches.empty() && !port.m_portDownload)
        throw CDMusicException(kDownload, pm::E_NOINTERFACE);
    try {
        for (const DWORD patch : patches) {
            std::shared_ptr<pm::IInstrument> instrument;
            const HRESULT found = m_collection->GetInstrument(patch, &instrument);
            if (found == pm::DMUS_E_INVALIDPATCH)
                continue;  // the port's own sound plays that patch
            ThrowIfFailed(found, kDownload);
            if (!instrument)
                throw CDMusicException(kDownload, -1);
            const pm::DMUS_NOTERANGE everyNote{};
            std::shared_ptr<pm::IDownloadedInstrument> downloaded;
            ThrowIfFailed(
                port.m_portDownload->DownloadInstrument(*instrument, &downloaded, &everyNote, 1),
                kDownload);
            if (downloaded)
                entry.instruments.push_back(std::move(downloaded));
        }
        OutOfMemoryAs(kDownload, [&] { m_ports.push_back(entry); });
    } catch (...) {
        // A half-done download leaves nothing behind on the port.
        UnloadInstruments(entry);
        throw;
    }
    m_lastPort = port.m_port.get();
    return 0;
}

int CSegment::Unload(COutputPort& port) {
    if (!m_segment || !port.m_port)
        throw CDMusicException(kUnload, -1);
    const auto it = std::find_if(m_ports.begin(), m_ports.end(), [&](const PortDownloads& e) {
        return e.port == port.m_port.get();
    });
    if (it == m_ports.end())
        throw CDMusicException(kUnload, pm::DMUS_E_NOT_DOWNLOADED_TO_PORT);
    const HRESULT hr = UnloadInstruments(*it);
    m_ports.erase(it);
    ThrowIfFailed(hr, kUnload);
    return 0;
}

int CSegment::ConnectToDLS(CCollection& collection) {
    if (!m_segment || !collection.m_collection)
        throw CDMusicException(kConnectToDLS, -1);
    m_collection = collection.m_collection;
    return 0;
}

int CSegment::SetStartPoint(MUSIC_TIME start) {
    SegmentData& segment = Require(kSetStartPoint);
    if (start < 0 || start >= segment.length)
        throw CDMusicException(kSetStartPoint, pm::E_INVALIDARG);
    segment.startPoint = start;
    return 0;
}

int CSegment::GetDefaultResolution(DWORD* resolution) {
    SegmentData& segment = Require(kGetDefaultResolution);
    if (resolution == nullptr)
        throw CDMusicException(kGetDefaultResolution, -1);
    *resolution = segment.defaultResolution;
    return 0;
}

int CSegment::SetDefaultResolution(DWORD resolution) {
    Require(kSetDefaultResolution).defaultResolution = resolution;
    return 0;
}

int CSegment::SetLength(MUSIC_TIME length) {
    SegmentData& segment = Require(kSetLength);
    if (length <= 0)
        throw CDMusicException(kSetLength, pm::E_INVALIDARG);
    segment.length = length;
    // Points beyond the new end would name music that is no longer there.
    segment.startPoint = std::min(segment.startPoint, length - 1);
    if (segment.loopEnd > length) {
        segment.loopStart = 0;
        segment.loopEnd = 0;
    }
    return 0;
}

int CSegment::GetLength(MUSIC_TIME* length) {
    SegmentData& segment = Require(kGetLength);
    if (length == nullptr)
        throw CDMusicException(kGetLength, -1);
    *length = segment.length;
    return 0;
}

int CSegment::GetLoopPoints(MUSIC_TIME* start, MUSIC_TIME* end) {
    SegmentData& segment = Require(kGetLoopPoints);
    if (start == nullptr || end == nullptr)
        throw CDMusicException(kGetLoopPoints, -1);
    *start = segment.loopStart;
    *end = segment.loopEnd;
    return 0;
}

int CSegment::SetLoopPoints(MUSIC_TIME start, MUSIC_TIME end) {
    SegmentData& segment = Require(kSetLoopPoints);
    // Both 0 loops the whole segment; otherwise start < end <= length.
    const bool whole = start == 0 && end == 0;
    if (!whole && (start < 0 || end <= start || end > segment.length))
        throw CDMusicException(kSetLoopPoints, pm::E_INVALIDARG);
    segment.loopStart = start;
    segment.loopEnd = end;
    return 0;
}

int CSegment::SetRepeats(DWORD repeats) {
    Require(kSetRepeats).repeats = repeats;
    return 0;
}

int CSegment::SetPChannelUsed(DWORD count, const DWORD* pchannels) {
    SegmentData& segment = Require(kSetPChannelUsed);
    if (pchannels == nullptr && count != 0)
        throw CDMusicException(kSetPChannelUsed, -1);
    OutOfMemoryAs(kSetPChannelUsed,
                  [&] { segment.pchannelsUsed.assign(pchannels, pchannels + count); });
    return 0;
}

int CSegment::Play(COutputPort& port) {
    if (!m_segment || !port.m_port)
        throw CDMusicException(kPlay, -1);
    auto state = std::make_unique<State>();
    ThrowIfFailed(port.m_port->QuerySegmentPlayer(&state->player), kPlay);
    if (!state->player)
        throw CDMusicException(kPlay, -1);
    ThrowIfFailed(state->player->GetClock(&state->clock), kPlay);
    if (!state->clock)
        throw CDMusicException(kPlay, -1);
    Stop();
    OutOfMemoryAs(kPlay, [&] {
        state->segment = std::make_shared<const SegmentData>(*m_segment);
        const auto messages = state->segment->Schedule(kMaxScheduled, &state->passes);
        ThrowIfFailed(state->player->Play(messages, &state->startTime), kPlay);
    });
    m_state = std::move(state);
    return 0;
}

int CSegment::Stop() {
    if (!m_state)
        return -1;
    // Never throws: it runs from the destructor too.
    m_state->player->Stop();
    return 0;
}

int CSegment::GetRepeats(DWORD* repeats) {
    *repeats = RequireState(kGetRepeats, repeats).segment->repeats;
    return 0;
}

int CSegment::GetSeek(MUSIC_TIME* seek) {
    const State& state = RequireState(kGetSeek, seek);
    pm::REFERENCE_TIME now = 0;
    ThrowIfFailed(state.clock->GetTime(&now), kGetSeek);
    const double elapsedMs = double(std::max<pm::REFERENCE_TIME>(0, now - state.startTime)) / 1e4;
    *seek = state.segment->SeekAt(state.passes, elapsedMs);
    return 0;
}

int CSegment::GetSegment(SegmentData* segment) {
    const State& state = RequireState(kGetSegment, segment);
    OutOfMemoryAs(kGetSegment, [&] { *segment = *state.segment; });
    return 0;
}

int CSegment::GetStartPoint(MUSIC_TIME* start) {
    *start = RequireState(kGetStartPoint, start).segment->startPoint;
    return 0;
}

int CSegment::GetStartTime(pm::REFERENCE_TIME* start) {
    *start = RequireState(kGetStartTime, start).startTime;
    return 0;
}

}  // namespace musicport
