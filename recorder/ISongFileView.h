#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace recorder {

// The main window's side of the song-file commands. GUI thread.
class ISongFileView {
public:
    virtual ~ISongFileView() = default;

    // The file dialogs (filter "键乐坊录音文件(*.tnd)", default extension "tnd"); nullopt on
    // Cancel. Open accepts a name that does not exist.
    virtual std::optional<std::filesystem::path> AskOpenPath() = 0;
    virtual std::optional<std::filesystem::path> AskSavePath() = 0;
    // The text-entry dialog with `prompt` (UTF-8); the entered text, empty when cancelled.
    virtual std::string AskText(std::string_view prompt) = 0;
    // A message box (UTF-8), plain or with the stop icon.
    virtual void ShowMessage(std::string_view text, bool stopIcon) = 0;

    // Labels 1057 and 1056 (UTF-8).
    virtual void SetAuthorLabel(std::string_view text) = 0;
    virtual void SetTitleLabel(std::string_view text) = 0;
    // Menu item "保存" (Save).
    virtual void EnableSaveItem() = 0;

    // The capability-flags word of the output port in use.
    virtual std::uint32_t CurrentPortFlags() = 0;
    // Entries of the output-port list and the word each keeps as its item data.
    virtual int OutputPortCount() = 0;
    virtual std::uint32_t OutputPortFlags(int index) = 0;
    // Selects entry `index` of the output-port list and runs its selection change.
    virtual void SelectOutputPort(int index) = 0;
    // Selected entry of the instrument list, -1 for none.
    virtual int InstrumentSelection() = 0;
    // Selects entry `index` (none when out of range) and runs the instrument change.
    virtual void SelectInstrument(int index) = 0;
};

}  // namespace recorder
