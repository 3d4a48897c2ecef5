#pragma once

#include <filesystem>
#include <string>

#include "recorder/SongFile.h"

namespace recorder {

class ISongFileView;
class IRecorderView;
class RecorderControl;

// The commands of menu "录音文件": New, Open, Save, Save As, and the author/title entry
// (command 32778). Holds the author and title written into saved files and the path last
// chosen. GUI thread; the song is replaced under the performance lock.
class SongFileCommands {
public:
    SongFileCommands(RecorderControl& control, IRecorderView& recorderView, ISongFileView& view);

    void OnNewSong();
    void OnOpenSong();
    void OnSaveSong();
    void OnSaveSongAs();
    void OnSongInfo();

    // Shared by Save and Save As: writes the song to the stored path (`useStoredPath`) or to
    // a path the user chooses. True when a file was written.
    bool SaveSong(bool useStoredPath);

    // Texts in UTF-8; the file keeps them in GBK.
    const std::string& Author() const { return m_strAuthor; }
    const std::string& Title() const { return m_strTitle; }
    const std::filesystem::path& FilePath() const { return m_strFilePath; }

private:
    bool WriteTo(const std::filesystem::path& path, const SongFileHeader& header);

    RecorderControl& m_control;
    IRecorderView& m_recorderView;
    ISongFileView& m_view;
    std::string m_strAuthor;
    std::string m_strTitle;
    std::filesystem::path m_strFilePath;
};

}  // namespace recorder
