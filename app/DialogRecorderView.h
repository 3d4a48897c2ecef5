#pragma once

#include "recorder/IRecorderView.h"
#include "recorder/ISongFileView.h"

class QWidget;

namespace musicport {
class COutputPort;
}  // namespace musicport

namespace app {

class IRecorderDialog;
class IUserPrompts;

// The main dialog as the recorder and the song-file commands see it: its buttons, menu items,
// progress bar, labels and lists, its piano and message list, and the file and text dialogs.
// Methods that may run on other threads only post to the GUI thread or use thread-safe calls.
class DialogRecorderView final : public recorder::IRecorderView, public recorder::ISongFileView {
public:
    // `dialog`, `outputPort` and `prompts` must outlive this object.
    DialogRecorderView(IRecorderDialog& dialog, musicport::COutputPort& outputPort,
                       IUserPrompts& prompts);

    // IRecorderView
    void EnableRecordButton(bool enable) override;
    void EnablePlayButton(bool enable) override;
    void EnableStopButton(bool enable) override;
    void EnableNewItem(bool enable) override;
    void TakeFocus() override;
    void AllNotesOff() override;
    void ShowMessage(std::string_view text) override;
    void PostProgressRange(int low, int high) override;
    void PostProgressPos(std::uint32_t position) override;
    void Post(std::function<void()> task) override;
    void SendMidiMsg(std::uint32_t msg) override;
    void PressKey(std::uint8_t note) override;
    void ReleaseKey(std::uint8_t note) override;
    void AddMessage(std::uint8_t note, std::uint8_t velocity, int source) override;

    // ISongFileView
    std::optional<std::filesystem::path> AskOpenPath() override;
    std::optional<std::filesystem::path> AskSavePath() override;
    std::string AskText(std::string_view prompt) override;
    void ShowMessage(std::string_view text, bool stopIcon) override;
    void SetAuthorLabel(std::string_view text) override;
    void SetTitleLabel(std::string_view text) override;
    void EnableSaveItem() override;
    std::uint32_t CurrentPortFlags() override;
    int OutputPortCount() override;
    std::uint32_t OutputPortFlags(int index) override;
    void SelectOutputPort(int index) override;
    int InstrumentSelection() override;
    void SelectInstrument(int index) override;

private:
    std::optional<std::filesystem::path> AskPath(bool save);

    IRecorderDialog& m_host;
    QWidget& m_dialog;  // the host's window
    musicport::COutputPort& m_outputPort;
    IUserPrompts& m_prompts;
};

}  // namespace app
