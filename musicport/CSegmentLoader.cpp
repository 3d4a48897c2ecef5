#include "musicport/CSegmentLoader.h"

#include <fstream>
#include <new>

#include "musicport/CDMusicException.h"
#include "musicport/CSegment.h"
#include "musicport/MidiFileReader.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kLoadSegment = "CDLSLoader::LoadSegment()";
constexpr const char* kLoadFromResource = "CDLSLoader::LoadSegmentFromResource()";

// The segment of a MIDI file, or the failure code.
HRESULT Parse(std::span<const std::uint8_t> bytes, BOOL midiFile,
              std::shared_ptr<SegmentData>& segment) {
    MidiFile file;
    if (ReadMidiFile(bytes, file) != MidiFileStatus::Ok)
        return pm::DMUS_E_LOADER_FORMATNOTSUPPORTED;
    segment = std::make_shared<SegmentData>(SegmentData::FromMidiFile(file));
    segment->standardMidiFile = midiFile != 0;
    return pm::S_OK;
}
}  // namespace

int CSegmentLoader::LoadSegment(const char* fileName, CSegment& segment, BOOL midiFile) {
    segment.Release();
    if (fileName == nullptr)
        throw CDMusicException(kLoadSegment, -1);
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in)
        throw CDMusicException(kLoadSegment, pm::DMUS_E_LOADER_FAILEDOPEN);
    const auto size = in.tellg();
    if (size < 0)
        throw CDMusicException(kLoadSegment, pm::DMUS_E_LOADER_FAILEDOPEN);
    if (std::size_t(size) > kMaxFileBytes)
        throw CDMusicException(kLoadSegment, pm::E_OUTOFMEMORY);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw CDMusicException(kLoadSegment, pm::DMUS_E_LOADER_FAILEDOPEN);
    std::shared_ptr<SegmentData> data;
    try {
        const HRESULT hr = Parse(bytes, midiFile, data);
        if (pm::Failed(hr))
            throw CDMusicException(kLoadSegment, hr);
    } catch (const std::bad_alloc&) {
        throw CDMusicException(kLoadSegment, pm::E_OUTOFMEMORY);
    }
    segment.m_segment = std::move(data);
    return 0;
}

int CSegmentLoader::LoadSegmentFromResource(const char* name, const char* type, CSegment& segment,
                                            BOOL midiFile, const ResourceLookup& resources) {
    segment.Release();
    std::vector<std::uint8_t> bytes;
    if (name == nullptr || type == nullptr || !resources || !resources(name, type, bytes))
        throw CDMusicException(kLoadFromResource, pm::E_FAIL);
    std::shared_ptr<SegmentData> data;
    try {
        if (pm::Failed(Parse(bytes, midiFile, data)))
            throw CDMusicException(kLoadFromResource, pm::E_FAIL);
    } catch (const std::bad_alloc&) {
        throw CDMusicException(kLoadFromResource, pm::E_FAIL);
    }
    segment.m_segment = std::move(data);
    return 0;
}

}  // namespace musicport
