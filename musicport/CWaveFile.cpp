#include "musicport/CWaveFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;
using pm::DWORD;
using pm::HRESULT;

namespace {

constexpr pm::WORD kExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM without its first two bytes (the format tag).
constexpr std::array<std::uint8_t, 14> kSubtypeTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v);
    Put16(out, v >> 16);
}
void PutId(std::vector<std::uint8_t>& out, const char (&id)[5]) {
    out.insert(out.end(), id, id + 4);
}

}  // namespace

// Random access to the bytes of a file or of a memory copy.
class CWaveFile::Source {
public:
    static std::unique_ptr<Source> FromFile(const std::string& path) {
        auto source = std::unique_ptr<Source>(new Source());
        source->file_.open(path, std::ios::binary);
        if (!source->file_)
            return nullptr;
        source->file_.seekg(0, std::ios::end);
        const auto end = source->file_.tellg();
        if (end < 0)
            return nullptr;
        source->size_ = static_cast<std::uint64_t>(end);
        return source;
    }
    static std::unique_ptr<Source> FromMemory(std::vector<std::uint8_t> bytes) {
        auto source = std::unique_ptr<Source>(new Source());
        source->size_ = bytes.size();
        source->memory_ = std::move(bytes);
        source->inMemory_ = true;
        return source;
    }

    std::uint64_t Size() const { return size_; }

    // Exactly `count` bytes at `offset`, or false.
    bool ReadAt(std::uint64_t offset, std::uint8_t* target, std::size_t count) {
        if (offset > size_ || count > size_ - offset)
            return false;
        if (count == 0)
            return true;  // `target` may be null then
        if (inMemory_) {
            std::memcpy(target, memory_.data() + offset, count);
            return true;
        }
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(target), static_cast<std::streamsize>(count));
        return file_.gcount() == static_cast<std::streamsize>(count);
    }

private:
    Source() = default;
    std::ifstream file_;
    std::vector<std::uint8_t> memory_;
    std::uint64_t size_ = 0;
    bool inMemory_ = false;
};

CWaveFile::CWaveFile() = default;

CWaveFile::~CWaveFile() {
    Close();
}

HRESULT CWaveFile::Open(const std::string& fileName, Mode mode, const pm::WAVEFORMATEX* format,
                        std::span<const std::uint8_t> extra, const ResourceLookup& resources) {
    Close();
    m_mode = mode;
    if (mode == Mode::Write) {
        if (format == nullptr || format->nBlockAlign == 0 || format->nChannels == 0)
            return pm::E_FAIL;
        m_out.open(fileName, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        if (!m_out)
            return pm::E_FAIL;
        m_format = *format;
        const bool pcm = format->wFormatTag == pm::WAVE_FORMAT_PCM;
        m_extra.assign(extra.begin(), extra.end());
        if (pcm)
            m_extra.clear();
        m_format.cbSize = static_cast<pm::WORD>(m_extra.size());
        // Sizes are placeholders until Close.
        std::vector<std::uint8_t> head;
        PutId(head, "RIFF");
        Put32(head, 0);
        PutId(head, "WAVE");
        PutId(head, "fmt ");
        const std::uint32_t fmtSize = pcm ? 16 : 18 + static_cast<std::uint32_t>(m_extra.size());
        Put32(head, fmtSize);
        Put16(head, m_format.wFormatTag);
        Put16(head, m_format.nChannels);
        Put32(head, m_format.nSamplesPerSec);
        Put32(head, m_format.nAvgBytesPerSec);
        Put16(head, m_format.nBlockAlign);
        Put16(head, m_format.wBitsPerSample);
        if (!pcm) {
            Put16(head, m_format.cbSize);
            head.insert(head.end(), m_extra.begin(), m_extra.end());
            if (fmtSize & 1)
                head.push_back(0);
        }
        PutId(head, "fact");
        Put32(head, 4);
        Put32(head, 0);
        PutId(head, "data");
        Put32(head, 0);
        m_out.write(reinterpret_cast<const char*>(head.data()),
                    static_cast<std::streamsize>(head.size()));
        if (!m_out) {
            m_out.close();
            return pm::E_FAIL;
        }
        m_dataOffset = head.size();
        m_dataSize = 0;
        return pm::S_OK;
    }

    m_source = Source::FromFile(fileName);
    if (!m_source && resources) {
        std::vector<std::uint8_t> bytes;
        if (resources(fileName, "WAVE", bytes) || resources(fileName, "WAV", bytes))
            m_source = Source::FromMemory(std::move(bytes));
    }
    if (!m_source)
        return pm::E_FAIL;
    const HRESULT hr = Parse();
    if (pm::Failed(hr))
        m_source.reset();
    return hr;
}

HRESULT CWaveFile::OpenFromMemory(std::span<const std::uint8_t> bytes, Mode mode) {
    Close();
    if (mode != Mode::Read)
        return pm::E_NOTIMPL;
    m_mode = mode;
    m_source = Source::FromMemory({bytes.begin(), bytes.end()});
    const HRESULT hr = Parse();
    if (pm::Failed(hr))
        m_source.reset();
    return hr;
}

HRESULT CWaveFile::Parse() {
    m_format = {};
    m_extra.clear();
    m_dataSize = 0;
    m_position = 0;
    std::array<std::uint8_t, 12> riff{};
    if (!m_source->ReadAt(0, riff.data(), riff.size()) ||
        std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return pm::E_FAIL;
    // A RIFF size beyond the file is tolerated (streamed files); the chunks must fit.
    const std::uint64_t end =
        std::min<std::uint64_t>(m_source->Size(), 8ull + Le32(riff.data() + 4));
    bool haveFormat = false;
    bool haveData = false;
    std::uint64_t pos = 12;
    while (pos + 8 <= end && !(haveFormat && haveData)) {
        std::array<std::uint8_t, 8> header{};
        if (!m_source->ReadAt(pos, header.data(), header.size()))
            return pm::E_FAIL;
        const std::uint32_t size = Le32(header.data() + 4);
        const std::uint64_t body = pos + 8;
        if (size > m_source->Size() - body)
            return pm::E_FAIL;  // the chunk claims more bytes than the file has
        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            const HRESULT hr = ReadFormat(body, size);
            if (pm::Failed(hr))
                return hr;
            haveFormat = true;
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            m_dataOffset = body;
            m_dataSize = size;
            haveData = true;
        }
        pos = body + size + (size & 1u);
    }
    return haveFormat && haveData ? pm::S_OK : pm::E_FAIL;
}

HRESULT CWaveFile::ReadFormat(std::uint64_t offset, std::uint32_t size) {
    if (size < 16)
        return pm::E_FAIL;
    std::array<std::uint8_t, 18> base{};
    const std::size_t baseBytes = size >= 18 ? 18 : 16;
    if (!m_source->ReadAt(offset, base.data(), baseBytes))
        return pm::E_FAIL;
    pm::WAVEFORMATEX f;
    f.wFormatTag = Le16(&base[0]);
    f.nChannels = Le16(&base[2]);
    f.nSamplesPerSec = Le32(&base[4]);
    f.nAvgBytesPerSec = Le32(&base[8]);
    f.nBlockAlign = Le16(&base[12]);
    f.wBitsPerSample = Le16(&base[14]);
    if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nBlockAlign == 0)
        return pm::E_FAIL;
    if (f.wFormatTag != pm::WAVE_FORMAT_PCM) {
        const std::uint16_t extraSize = baseBytes == 18 ? Le16(&base[16]) : 0;
        if (extraSize > size - baseBytes)
            return pm::E_FAIL;
        m_extra.resize(extraSize);
        if (!m_source->ReadAt(offset + 18, m_extra.data(), extraSize))
            return pm::E_FAIL;
        f.cbSize = extraSize;
        // Extensible with the PCM subtype is plain PCM with a wider description.
        if (f.wFormatTag == kExtensible && extraSize >= 22 &&
            Le16(&m_extra[6]) == pm::WAVE_FORMAT_PCM &&
            std::equal(kSubtypeTail.begin(), kSubtypeTail.end(), m_extra.begin() + 8)) {
            f.wFormatTag = pm::WAVE_FORMAT_PCM;
            f.cbSize = 0;
            m_extra.clear();
        }
    }
    if (f.wFormatTag == pm::WAVE_FORMAT_PCM) {
        const unsigned bytesPerSample = (f.wBitsPerSample + 7u) / 8u;
        if (f.wBitsPerSample == 0 || f.wBitsPerSample > 32 ||
            f.nBlockAlign != f.nChannels * bytesPerSample)
            return pm::E_FAIL;
    }
    m_format = f;
    return pm::S_OK;
}

HRESULT CWaveFile::Read(std::uint8_t* buffer, DWORD size, DWORD* read) {
    if (read != nullptr)
        *read = 0;
    if (!m_source || m_mode != Mode::Read)
        return pm::E_FAIL;
    if (buffer == nullptr && size != 0)
        return pm::E_POINTER;
    const DWORD count = std::min(size, m_dataSize - m_position);
    if (!m_source->ReadAt(m_dataOffset + m_position, buffer, count))
        return pm::E_FAIL;
    m_position += count;
    if (read != nullptr)
        *read = count;
    return pm::S_OK;
}

HRESULT CWaveFile::Write(const std::uint8_t* data, DWORD size, DWORD* written) {
    if (written != nullptr)
        *written = 0;
    if (!m_out.is_open())
        return pm::E_FAIL;
    if (data == nullptr && size != 0)
        return pm::E_POINTER;
    // The RIFF size field must still hold the whole file.
    if (size > std::numeric_limits<DWORD>::max() - 64 - m_dataOffset - m_dataSize)
        return pm::E_FAIL;
    m_out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!m_out)
        return pm::E_FAIL;
    m_dataSize += size;
    if (written != nullptr)
        *written = size;
    return pm::S_OK;
}

HRESULT CWaveFile::ResetFile() {
    if (!m_source)
        return pm::E_FAIL;
    m_position = 0;
    return pm::S_OK;
}

HRESULT CWaveFile::Close() {
    m_source.reset();
    if (!m_out.is_open())
        return pm::S_OK;
    HRESULT hr = pm::S_OK;
    if (m_dataSize & 1u)
        m_out.put(0);
    const auto patch = [&](std::uint64_t at, std::uint32_t value) {
        std::vector<std::uint8_t> bytes;
        Put32(bytes, value);
        m_out.seekp(static_cast<std::streamoff>(at));
        m_out.write(reinterpret_cast<const char*>(bytes.data()), 4);
    };
    const std::uint64_t total = m_dataOffset + m_dataSize + (m_dataSize & 1u);
    patch(4, static_cast<std::uint32_t>(total - 8));
    patch(m_dataOffset - 4, m_dataSize);
    patch(m_dataOffset - 12, m_dataSize / m_format.nBlockAlign);  // "fact": sample frames
    m_out.flush();
    if (!m_out)
        hr = pm::E_FAIL;
    m_out.close();
    return hr;
}

}  // namespace musicport
