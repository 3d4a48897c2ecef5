#include "platform/fluidsynth/SoundFontFile.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform::fluidsynth {

SoundFontFile SoundFontFile::FromMemory(std::span<const music::BYTE> bytes) {
    SoundFontFile file;
    file.memoryFd_ = memfd_create("tunestead-collection", MFD_CLOEXEC);
    if (file.memoryFd_ < 0)
        return file;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(file.memoryFd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return file;
        done += std::size_t(n);
    }
    file.path_ = "/proc/self/fd/" + std::to_string(file.memoryFd_);
    return file;
}

SoundFontFile::~SoundFontFile() {
    if (memoryFd_ >= 0)
        close(memoryFd_);
}

SoundFontFile::SoundFontFile(SoundFontFile&& other) noexcept
    : path_(std::move(other.path_)), memoryFd_(other.memoryFd_) {
    other.memoryFd_ = -1;
}

}  // namespace platform::fluidsynth
