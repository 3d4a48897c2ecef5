#pragma once

#include <span>
#include <string>

#include "platform/music/Types.h"

namespace platform::fluidsynth {

// A collection's file as FluidSynth opens it: a path on disk, or bytes from memory kept in an
// anonymous memory file for as long as this object lives (FluidSynth reads by path).
class SoundFontFile {
public:
    explicit SoundFontFile(std::string path) : path_(std::move(path)) {}
    // Copies `bytes` into a memory file; Path() is empty when that failed.
    static SoundFontFile FromMemory(std::span<const music::BYTE> bytes);
    ~SoundFontFile();
    SoundFontFile(SoundFontFile&& other) noexcept;
    SoundFontFile& operator=(SoundFontFile&&) = delete;
    SoundFontFile(const SoundFontFile&) = delete;

    const std::string& Path() const { return path_; }

private:
    SoundFontFile() = default;
    std::string path_;
    int memoryFd_ = -1;
};

}  // namespace platform::fluidsynth
