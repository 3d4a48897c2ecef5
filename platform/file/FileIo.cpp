#include "platform/file/FileIo.h"

#include "platform/file/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform::file {

ReadOnlyFile::~ReadOnlyFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
    }
    return *this;
}

int ReadOnlyFile::Open(const std::filesystem::path& path) {
    // Non-blocking, so that a FIFO without a writer (or a device) cannot hold the open; the
    // type is checked before anything is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = kNotARegularFile;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    *this = ReadOnlyFile();
    m_fd = fd;
    m_size = std::uint64_t(info.st_size);
    return 0;
}

int ReadOnlyFile::ReadAt(std::uint64_t offset, std::span<std::byte> buffer,
                         std::size_t* read) const {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n =
            ::pread(m_fd, buffer.data() + done, buffer.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *read = done;
            return errno;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    *read = done;
    return 0;
}

int WriteFileReplacing(const std::filesystem::path& path,
                       std::span<const std::span<const std::byte>> chunks) {
    ReplacingFile file;
    if (const int error = file.Open(path); error != 0)
        return error;
    for (const std::span<const std::byte> chunk : chunks) {
        if (const int error = file.Write(chunk); error != 0)
            return error;
    }
    return file.Commit();
}

std::string FileErrorReport(int error, const std::filesystem::path& path) {
    const std::string name = path.string();
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return name + " was not found.";
        case EACCES:
        case EPERM:
        case EROFS:
            return "Access to " + name + " was denied.";
        case EISDIR:
            return name + " is a folder, not a file.";
        case kNotARegularFile:
        case ENXIO:  // what opening a socket gives
            return name + " is not a regular file.";
        case ENOSPC:
        case EDQUOT:
            return "There is not enough space on the disk to write " + name + ".";
        case ENAMETOOLONG:
            return name + " contains an incorrect path.";
        default:
            return "An unexpected error occurred while accessing " + name + ": " +
                   std::strerror(error) + ".";
    }
}

}  // namespace platform::file
