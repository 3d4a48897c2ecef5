#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

namespace platform::file {

// A file written in full beside the one it replaces and renamed over it only when complete, so
// the old file stays whole until the new one is on the disk. A path that is a symbolic link
// replaces the link's final target, not the link. Errors are errno values (0 = none). A file
// that is not committed is removed on destruction.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file in the target's folder, with the mode of any new file (0666
    // less the umask).
    int Open(const std::filesystem::path& path);
    // Appends `bytes`; retries interrupted and partial writes.
    int Write(std::span<const std::byte> bytes);
    // Flushes the file to the disk and renames it over the target, then flushes the folder.
    // On failure the temporary file is removed and the target is left as it was.
    int Commit();

private:
    void Discard();

    int m_fd = -1;
    std::string m_temporary;
    std::filesystem::path m_target;
};

// The file a write to `path` replaces: `path`, or the last target of the symbolic links it
// names (which need not exist yet; a new file is made there). ELOOP after 40 links.
int FinalLinkTarget(const std::filesystem::path& path, std::filesystem::path* target);

}  // namespace platform::file
