#include "platform/file/FileIo.h"

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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
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

namespace {

int WriteAll(int fd, std::span<const std::byte> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += std::size_t(n);
    }
    return 0;
}

}  // namespace

int WriteFileReplacing(const std::filesystem::path& path,
                       std::span<const std::span<const std::byte>> chunks) {
    if (path.empty() || !path.has_filename())
        return ENOENT;
    std::string pattern = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return errno;
    int error = 0;
    for (const std::span<const std::byte> chunk : chunks) {
        error = WriteAll(fd, chunk);
        if (error != 0)
            break;
    }
    // mkstemp creates the file 0600; a song file is as readable as any file the user makes.
    if (error == 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0)
            error = errno;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(pattern.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(pattern.c_str());
        return error;
    }
    // The rename itself reaches the disk with the folder.
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
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
