#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace platform::file {

// A file opened for reading, whole-file reads checked against its size. Errors are errno
// values (0 = none). Move-only; closes on destruction.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens a regular file; a directory or another non-regular file gives EISDIR / EINVAL.
    int Open(const std::filesystem::path& path);
    bool IsOpen() const { return m_fd >= 0; }
    std::uint64_t Size() const { return m_size; }
    // Reads up to `buffer.size()` bytes at `offset`; `*read` gets the count (short at the end
    // of the file). Retries interrupted and partial reads.
    int ReadAt(std::uint64_t offset, std::span<std::byte> buffer, std::size_t* read) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// Writes `chunks` one after the other into a new temporary file beside `path`, flushes it to
// the disk and renames it over `path`; on any failure the temporary file is removed and the
// file at `path` is left as it was. Returns 0 or the errno of the failing step.
int WriteFileReplacing(const std::filesystem::path& path,
                       std::span<const std::span<const std::byte>> chunks);

// The standard report of a file error, English, naming the file.
std::string FileErrorReport(int error, const std::filesystem::path& path);

}  // namespace platform::file
