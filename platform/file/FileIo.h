#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace platform::file {

// The error of opening for reading what is neither a regular file nor a folder. ENODEV is what
// opening a device without a driver gives, so the report fits both.
inline constexpr int kNotARegularFile = ENODEV;

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

    // Opens a regular file without ever waiting: a folder gives EISDIR, anything else that is
    // not a regular file (a FIFO, a device, a socket) kNotARegularFile.
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

// Writes `chunks` one after the other through a ReplacingFile: the file at `path` (or the
// target of the symbolic link at `path`) is replaced only once the new one is complete.
// Returns 0 or the errno of the failing step.
int WriteFileReplacing(const std::filesystem::path& path,
                       std::span<const std::span<const std::byte>> chunks);

// The standard report of a file error, English, naming the file.
std::string FileErrorReport(int error, const std::filesystem::path& path);

}  // namespace platform::file
