#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/music/Types.h"

namespace musicport {

// Finds a program resource by name and type ("WAVE", "WAV", ...) and copies its bytes into
// `bytes`; false when there is none.
using ResourceLookup = std::function<bool(std::string_view name, std::string_view type,
                                          std::vector<std::uint8_t>& bytes)>;

// RIFF/WAVE files. Reading accepts PCM of any sample size, WAVE_FORMAT_EXTENSIBLE (a PCM
// subtype is reported as plain PCM) and other tags with their extra format bytes; odd-sized
// chunks are padded and unknown chunks skipped. Every chunk the reader needs must lie inside
// the file: a file that claims more bytes than it has is refused before anything is
// allocated. Writing produces "RIFF"/"WAVE" with "fmt ", "fact" and "data"; Close fixes the
// sizes. Failures give E_FAIL (malformed or unreadable file, missing resource) or E_NOTIMPL
// (writing to memory). One thread at a time.
class CWaveFile {
public:
    enum class Mode { Read, Write };

    CWaveFile();
    ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // Read: opens `fileName`, or when it cannot be opened, the resource of that name and type
    // "WAVE", then "WAV". Write: creates the file for `format` (18 bytes plus `extra`
    // when the tag is not PCM).
    platform::music::HRESULT Open(const std::string& fileName, Mode mode,
                                  const platform::music::WAVEFORMATEX* format = nullptr,
                                  std::span<const std::uint8_t> extra = {},
                                  const ResourceLookup& resources = {});
    // Reads a wave held in memory (copied). Any mode but Read gives E_NOTIMPL.
    platform::music::HRESULT OpenFromMemory(std::span<const std::uint8_t> bytes, Mode mode);

    // Reads up to `size` bytes of sample data from the current position.
    platform::music::HRESULT Read(std::uint8_t* buffer, platform::music::DWORD size,
                                  platform::music::DWORD* read);
    // Appends sample data (write mode).
    platform::music::HRESULT Write(const std::uint8_t* data, platform::music::DWORD size,
                                   platform::music::DWORD* written);
    // Back to the first sample byte (read mode).
    platform::music::HRESULT ResetFile();
    // Ends reading, or finishes the written file; S_OK when nothing is open.
    platform::music::HRESULT Close();

    // Bytes of sample data ("data" chunk); in write mode the bytes written so far.
    platform::music::DWORD GetSize() const { return m_dataSize; }
    // The 18-byte format; cbSize is the number of extra bytes.
    const platform::music::WAVEFORMATEX& GetFormat() const { return m_format; }
    std::span<const std::uint8_t> GetFormatExtra() const { return m_extra; }

private:
    class Source;
    platform::music::HRESULT Parse();
    platform::music::HRESULT ReadFormat(std::uint64_t offset, std::uint32_t size);

    std::unique_ptr<Source> m_source;
    std::fstream m_out;
    Mode m_mode = Mode::Read;
    platform::music::WAVEFORMATEX m_format{};
    std::vector<std::uint8_t> m_extra;
    std::uint64_t m_dataOffset = 0;
    platform::music::DWORD m_dataSize = 0;
    platform::music::DWORD m_position = 0;
};

}  // namespace musicport
