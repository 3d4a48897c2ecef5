#include "platform/file/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>
#include <utility>
#include <vector>

namespace platform::file {
namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on links followed in one lookup

// A new file beside `target` named after it with six random characters; the kernel applies
// the umask to 0666 as for any new file.
int CreateTemporary(const std::filesystem::path& target, std::string* name) {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::minstd_rand random(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = target.string() + ".";
        for (int i = 0; i < 6; ++i)
            candidate += kChars[pick(random)];
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int FinalLinkTarget(const std::filesystem::path& path, std::filesystem::path* target) {
    std::filesystem::path current = path;
    std::vector<char> link(PATH_MAX);
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return errno;
            *target = current;  // a new file, or a link to one not made yet
            return 0;
        }
        if (!S_ISLNK(info.st_mode)) {
            *target = current;
            return 0;
        }
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0)
            return errno;
        if (std::size_t(n) == link.size())
            return ENAMETOOLONG;
        const std::filesystem::path next(std::string(link.data(), std::size_t(n)));
        // A relative link is relative to the folder that holds it.
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return ELOOP;
}

ReplacingFile::~ReplacingFile() {
    Discard();
}

int ReplacingFile::Open(const std::filesystem::path& path) {
    Discard();
    if (path.empty() || !path.has_filename())
        return ENOENT;
    std::filesystem::path target;
    if (const int error = FinalLinkTarget(path, &target); error != 0)
        return error;
    const int fd = CreateTemporary(target, &m_temporary);
    if (fd < 0)
        return errno;
    m_fd = fd;
    m_target = target;
    return 0;
}

int ReplacingFile::Write(std::span<const std::byte> bytes) {
    if (m_fd < 0)
        return EBADF;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += std::size_t(n);
    }
    return 0;
}

int ReplacingFile::Commit() {
    if (m_fd < 0)
        return EBADF;
    int error = 0;
    if (::fsync(m_fd) != 0)
        error = errno;
    if (::close(std::exchange(m_fd, -1)) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        Discard();
        return error;
    }
    m_temporary.clear();
    // The rename itself reaches the disk with the folder.
    const std::filesystem::path folder = m_target.has_parent_path() ? m_target.parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

void ReplacingFile::Discard() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

}  // namespace platform::file
