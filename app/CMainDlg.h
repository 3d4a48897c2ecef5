#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <span>

#include "app/IInputView.h"
#include "app/IPortSelectionView.h"
#include "app/IRecorderDialog.h"
#include "device/IKeyBedView.h"
#include "device/IKeyNoteSink.h"
#include "device/KeyEvent.h"
#include "musicport/MidiMsg.h"
#include "piano/CPianoListener.h"
#include "recorder/IPlaybackTimer.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSlider;

namespace piano {
class CPianoCtrl;
}  // namespace piano

namespace performance {
class CMidiListCtrl;
class CPerformanceControls;
class ControlsBinding;
class CSliderCtrl;
}  // namespace performance

namespace device {
class CKeyNoteMap;
class KeyBed;
}  // namespace device

namespace platform::ch341 {
class ICh341Device;
}  // namespace platform::ch341

namespace platform::shell {
class IShell;
}  // namespace platform::shell

namespace web {
class AnnouncementFetch;
class CAnnouncement;
class CHyperLink;
}  // namespace web

namespace musicport {
class CDirectMusic;
class COutputPort;
}  // namespace musicport

namespace recorder {
class CNoteRecorder;
class RecorderControl;
class SongFileCommands;
}  // namespace recorder

namespace app {

class CInputReceiver;
class DialogRecorderView;
class IUserPrompts;
class PortSelection;
class WindowCommands;

// The process-wide objects the main dialog drives. They are built before the dialog and
// outlive it.
struct MainServices {
    musicport::CDirectMusic& music;
    musicport::COutputPort& outputPort;
    IUserPrompts& prompts;
    platform::ch341::ICh341Device& keyBedDevice;
    device::CKeyNoteMap& keyNoteMap;
    performance::CPerformanceControls& controls;
    WindowCommands& commands;
    platform::shell::IShell& shell;
    web::CAnnouncement& announcement;
    recorder::CNoteRecorder& recorder;
    PortSelection& ports;
    CInputReceiver& receiver;
};

// The main dialog: the whole user interface and the owner of the shared state. All of its
// handlers run on the GUI thread.
class CMainDlg : public QDialog, public IRecorderDialog {
    Q_OBJECT

public:
    using BYTE = musicport::BYTE;
    using BOOL = musicport::BOOL;

    explicit CMainDlg(MainServices services, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // The dialog of this process, for code that reaches it without an owner (listeners).
    static CMainDlg* Instance() { return s_instance; }

    // Runs OnInitDialog, then the modal loop unless start-up ended the dialog; then OnDestroy.
    // Returns the end code.
    int DoModal();
    // Ends the dialog with `code`: at once in the modal loop, or when start-up returns.
    void EndDialog(int code);

    void ShutdownAndClose();
    // The session asked the program to end (a termination signal): boxes and file dialogs a
    // handler has open are closed, then the window closes as with its close button.
    void CloseFromOutside();
    // The display has gone and the process is ending: the music side shuts down as on a close
    // (All Notes Off, input and thru off, playback asked to end) without touching a widget.
    void ShutdownWithoutDisplay();
    bool InitDirectMusic();
    void InitMusicPorts();
    void FillPortLists();
    void FillGMInstrumentList();
    void FillDLSInstrumentList();
    void OnSelchangeInstrument() override;
    void OnSelchangeOutputPort();
    void OnSelchangeInputPort();
    // Looks for MIDI ports that appeared or went away (every second while the dialog runs).
    void OnRefreshPorts();

    // The note entry of the piano and the key bed: cut-off, send, recording step.
    void PlayNote(BYTE note, BOOL on);
    // Releases every key on the screen and sends All Notes Off on channel 1.
    void AllNotesOff() override;
    void OnClearMessageList();

    // State the tests and the other parts of the program look at.
    bool IsClosing() const { return m_bClosing != 0; }
    bool IsDlsMode() const;
    QWidget& Window() override { return *this; }
    QWidget* Control(int id) const override;
    QMenuBar* MenuBar() const { return m_pMainMenu; }
    piano::CPianoCtrl* Piano() const override { return m_piano; }
    performance::CMidiListCtrl* MessageList() const override { return m_list; }
    int TransposeBase() const;
    // The exit code a step asked the application to quit with, if any.
    std::optional<int> QuitCode() const { return m_quitCode; }
    // Asks the application to quit with `code`: the dialog ends when its loop takes the
    // request, after the current handler (and the rest of start-up) has run.
    void PostQuitMessage(int code);
    const device::KeyBed* KeyBed() const { return m_keyBed.get(); }
    QAction* Command(int id) const override;
    int OutputPortIndex() const override;
    // Record/Stop/Play and the song-file commands, from OnInitDialog on.
    recorder::RecorderControl* Recorder() const { return m_recorder.get(); }
    recorder::SongFileCommands* SongFile() const { return m_songFile.get(); }
    // Command 32778, the author and title entry; no menu item leads to it.
    void OnSongInfo();

    // A plug (3) or unplug (0) code from the key-bed driver, delivered on the GUI thread outside
    // the performance lock.
    void OnDeviceEvent(unsigned code);
    // One scanned row's presses and releases, in key order, delivered on the GUI thread.
    void OnKeyEvents(std::span<const device::KeyEvent> events);

protected:
    BOOL OnInitDialog();
    void OnClose();
    void OnDestroy();
    void OnActivate(bool active);
    void OnMove();
    void OnInitMenu();

    void changeEvent(QEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The dialog's piano listener: holds no data, reaches the dialog through Instance().
    class PianoListener final : public piano::CPianoListener {
    public:
        void NoteOn(BYTE note) override;
        void NoteOff(BYTE note) override;
    };

    // What the key bed shows and plays through the dialog.
    class KeyBedView final : public device::IKeyBedView {
    public:
        explicit KeyBedView(CMainDlg& dialog) : m_dialog(dialog) {}
        void SetWindowTitle(std::string_view title) override;
        void ShowErrorBox(std::string_view text, std::string_view caption) override;

    private:
        CMainDlg& m_dialog;
    };
    class KeyNoteSink final : public device::IKeyNoteSink {
    public:
        explicit KeyNoteSink(CMainDlg& dialog) : m_dialog(dialog) {}
        void PressKey(BYTE note) override;
        void ReleaseKey(BYTE note) override;
        int FirstNote() const override;
        void PlayNote(BYTE note, BOOL on) override;
        void AddMessage(BYTE note, BYTE velocity, int source) override;
        void TakeFocus() override;

    private:
        CMainDlg& m_dialog;
    };

    // The selection lists as PortSelection fills and reads them; programmatic changes do not
    // run the selection handlers.
    class PortListsView final : public IPortSelectionView {
    public:
        explicit PortListsView(CMainDlg& dialog) : m_dialog(dialog) {}
        void AddOutputPort(std::string_view text, musicport::DWORD flags) override;
        void SelectOutputPort(int position) override;
        int OutputPortSelection() const override;
        void AddInputPort(std::string_view text) override;
        void SelectInputPort(int position) override;
        int InputPortSelection() const override;
        void ClearInstruments() override;
        void AddInstrument(std::string_view text) override;
        void SelectInstrument(int position) override;
        int InstrumentSelection() const override;
        void FocusDialog() override;
        void ShutdownAndClose() override;

    private:
        CMainDlg& m_dialog;
    };
    // What MIDI input shows and records.
    class InputView final : public IInputView {
    public:
        explicit InputView(CMainDlg& dialog) : m_dialog(dialog) {}
        void PressKey(BYTE note) override;
        void ReleaseKey(BYTE note) override;
        void AddMessage(BYTE note, BYTE velocity, int source) override;
        void RecordingStep(musicport::DWORD message,
                           std::chrono::steady_clock::time_point arrival) override;
        void SendToOutput(musicport::DWORD message) override;

    private:
        CMainDlg& m_dialog;
    };

    // Sets the window's fixed size, keeping it inside its screen's available area.
    void ResizeOnScreen(QSize size);
    // All Notes Off, the collection and instrument, the playback wake-up, thru and input.
    void ShutdownMusic();
    void StartKeyBed();
    void CreateMenuBar();
    void BindControls();
    void ReportToDebugger(const std::string& report);
    void StartRecorder();

    static CMainDlg* s_instance;

    MainServices m_services;

    // Members in the order of the dialog's member table.
    int m_bClosing = 0;
    // The stop request, the playback wake-up, the record state and the author, title and
    // file path live with the recorder's collaborators (m_recorder, m_songFile); the DLS flag
    // and the output and input positions live in PortSelection.
    int m_bActivated = 0;
    piano::CPianoCtrl* m_piano = nullptr;
    PianoListener m_pianoListener;
    // The device index and open flag live in the key-bed state, with the scan thread.
    std::unique_ptr<device::KeyBed> m_keyBed;
    QObject m_keyBedEvents;  // receives the posted device events, outside the lock
    KeyBedView m_keyBedView{*this};
    KeyNoteSink m_keyNoteSink{*this};
    // The transpose base lives with the pitch control (m_services.controls).
    std::unique_ptr<performance::ControlsBinding> m_controlsBinding;
    PortListsView m_portListsView{*this};
    InputView m_inputView{*this};
    QLabel* m_announcement = nullptr;
    web::CHyperLink* m_linkProduct = nullptr;
    web::CHyperLink* m_linkSite = nullptr;
    web::CHyperLink* m_linkLogo = nullptr;
    performance::CSliderCtrl* m_volumeSlider = nullptr;
    performance::CSliderCtrl* m_pitchSlider = nullptr;
    QLabel* m_banner = nullptr;
    QComboBox* m_noteRangeCombo = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_recordButton = nullptr;
    QPushButton* m_playButton = nullptr;
    QComboBox* m_outputCombo = nullptr;
    QComboBox* m_inputCombo = nullptr;
    performance::CMidiListCtrl* m_list = nullptr;
    QComboBox* m_instrumentCombo = nullptr;
    QMenuBar* m_pMainMenu = nullptr;

    QWidget* m_client = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<int, QAction*> m_commands;
    bool m_endRequested = false;
    int m_endCode = 0;
    bool m_inModalLoop = false;
    bool m_destroyed = false;
    std::optional<int> m_quitCode;

    recorder::SteadyPlaybackTimer m_playbackTimer;
    std::unique_ptr<DialogRecorderView> m_recorderView;
    std::unique_ptr<recorder::RecorderControl> m_recorder;
    std::unique_ptr<recorder::SongFileCommands> m_songFile;
    // The announcement on its way: fetched off the GUI thread, ended with the window.
    std::unique_ptr<web::AnnouncementFetch> m_announcementFetch;
};

}  // namespace app
