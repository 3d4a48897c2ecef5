#pragma once

#include <string_view>

namespace performance {

// What the volume, pitch and note-range logic reads and changes in the main dialog.
// GUI thread only.
class IControlsView {
public:
    virtual ~IControlsView() = default;

    virtual int GetPitchPosition() const = 0;
    // Moves the pitch thumb without acting on it.
    virtual void SetPitchPosition(int position) = 0;
    virtual void SetKeyName(std::string_view name) = 0;
    virtual int GetVolumePosition() const = 0;
    // Moves the volume thumb without acting on it.
    virtual void SetVolumePosition(int position) = 0;
    virtual int GetNoteRangeSelection() const = 0;

    virtual void SetFirstNote(int note) = 0;
    virtual void AllNotesOff() = 0;
    // Gives the keyboard focus back to the main dialog.
    virtual void FocusDialog() = 0;
    // A modal box with the error icon, owned by the main window.
    virtual void ShowErrorBox(std::string_view text, std::string_view caption) = 0;
    // Asks the application to end with `code` once the dialog's loop reaches the request.
    virtual void PostQuitMessage(int code) = 0;
};

}  // namespace performance
