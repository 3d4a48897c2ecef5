#include "recorder/SongFileCommands.h"

#include <mutex>
#include <vector>

#include "platform/text/CodePage.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IRecorderView.h"
#include "recorder/ISongFileView.h"
#include "recorder/RecorderControl.h"

namespace recorder {

namespace {
constexpr std::string_view kNoRecording = "没有录音！";
}  // namespace

SongFileCommands::SongFileCommands(RecorderControl& control, IRecorderView& recorderView,
                                   ISongFileView& view)
    : m_control(control), m_recorderView(recorderView), m_view(view) {}

void SongFileCommands::OnNewSong() {
    if (m_control.State() == RecordState::Playing)
        m_control.StopPerformance();
    std::lock_guard lock(m_control.Lock());
    m_recorderView.EnableRecordButton(true);
    m_recorderView.EnableStopButton(false);
    m_recorderView.EnablePlayButton(false);
    CNoteRecorder& recorder = m_control.Recorder();
    recorder.Clear();
    recorder.SetCount(0);
    recorder.ResetPosition();
    m_control.SetState(RecordState::Idle);
}

void SongFileCommands::OnOpenSong() {
    const std::optional<std::filesystem::path> path = m_view.AskOpenPath();
    if (!path)
        return;
    // Playback ends first, with its notes released; the song it played stays until the new
    // one has been read and checked in full.
    if (m_control.State() == RecordState::Playing)
        m_control.StopPerformance();

    LoadedSong song;
    const SongFileResult result = ReadSongFile(*path, m_control.Recorder().GetMaxEvents(), &song);
    if (!result.Ok()) {
        m_view.ShowMessage(
            SongFileMessage(result, *path),
            result.status == SongFileStatus::TooShort || result.status == SongFileStatus::BadMagic);
        return;
    }

    std::lock_guard lock(m_control.Lock());
    m_strFilePath = *path;
    CNoteRecorder& recorder = m_control.Recorder();
    const std::uint32_t count = std::uint32_t(song.events.size());
    recorder.Replace(std::move(song.events));

    for (int i = 0; i < m_view.OutputPortCount(); ++i) {
        if (m_view.OutputPortFlags(i) == song.header.portFlags) {
            m_view.SelectOutputPort(i);
            break;
        }
    }
    const std::uint32_t program = song.header.program;
    m_view.SelectInstrument(program == 0 || program > 0x7FFFFFFF ? -1 : int(program) - 1);

    // The file's texts are shown, not taken over: a later Save writes the entered ones.
    m_view.SetAuthorLabel("Author: " +
                          platform::text::GbkToUtf8(DecodeSongText(song.header.author)));
    m_view.SetTitleLabel("Title: " + platform::text::GbkToUtf8(DecodeSongText(song.header.title)));

    recorder.ResetPosition();
    m_recorderView.PostProgressRange(0, int(count) - 1);
    switch (m_control.State()) {
        case RecordState::Recording:
            m_recorderView.EnablePlayButton(true);
            m_recorderView.EnableRecordButton(true);
            m_control.SetState(RecordState::Idle);
            break;
        case RecordState::Idle:
            m_recorderView.EnablePlayButton(true);
            m_recorderView.EnableStopButton(true);
            break;
        case RecordState::Playing:
            break;
    }
    m_view.EnableSaveItem();
}

bool SongFileCommands::SaveSong(bool useStoredPath) {
    SongFileHeader header;
    {
        std::lock_guard lock(m_control.Lock());
        if (m_control.Recorder().GetCount() == 0) {
            m_recorderView.ShowMessage(kNoRecording);
            return false;
        }
    }
    header.author = EncodeSongText(platform::text::Utf8ToGbk(m_strAuthor));
    header.title = EncodeSongText(platform::text::Utf8ToGbk(m_strTitle));
    header.program = std::uint32_t(m_view.InstrumentSelection() + 1);
    header.portFlags = m_view.CurrentPortFlags();

    // Save falls back to choosing a path when none has been chosen yet.
    if (useStoredPath && !m_strFilePath.empty()) {
        WriteTo(m_strFilePath, header);
        return true;
    }
    const std::optional<std::filesystem::path> path = m_view.AskSavePath();
    if (!path)
        return false;
    m_strFilePath = *path;
    return WriteTo(m_strFilePath, header);
}

bool SongFileCommands::WriteTo(const std::filesystem::path& path, const SongFileHeader& header) {
    std::vector<NoteEvent> events;
    {
        // A copy, so that the file is written without holding up the other threads.
        std::lock_guard lock(m_control.Lock());
        const CNoteRecorder& recorder = m_control.Recorder();
        events.assign(recorder.GetData(), recorder.GetData() + recorder.GetCount());
    }
    const SongFileResult result = WriteSongFile(path, header, events);
    if (!result.Ok())
        m_view.ShowMessage(SongFileMessage(result, path), true);
    return result.Ok();
}

void SongFileCommands::OnSaveSong() {
    SaveSong(true);
}

void SongFileCommands::OnSaveSongAs() {
    if (SaveSong(false))
        m_view.EnableSaveItem();
}

void SongFileCommands::OnSongInfo() {
    const std::string author = m_view.AskText("作者姓名");
    m_view.SetAuthorLabel("作者: " + author);
    m_strAuthor = author;
    const std::string title = m_view.AskText("歌曲名称");
    m_view.SetTitleLabel("歌曲: " + title);
    m_strTitle = title;
}

}  // namespace recorder
