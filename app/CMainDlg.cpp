#include "app/CMainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include "app/DialogBuilder.h"
#include "app/DialogRecorderView.h"
#include "app/GMInstruments.h"
#include "app/IUserPrompts.h"
#include "app/WindowCommands.h"
#include "app/WindowPlacement.h"
#include "device/CKeyNoteMap.h"
#include "device/KeyBed.h"
#include "musicport/CDMusicException.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "musicport/PortInfo.h"
#include "performance/CMidiListCtrl.h"
#include "performance/CPerformanceControls.h"
#include "performance/CSliderCtrl.h"
#include "performance/ControlsBinding.h"
#include "performance/PerformanceLock.h"
#include "piano/CPianoCtrl.h"
#include "platform/log/DebugOutput.h"
#include "platform/music/ErrorInfo.h"
#include "platform/music/ResultCodes.h"
#include "recorder/RecorderControl.h"
#include "recorder/SongFileCommands.h"
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "res/Resources.h"
#include "res/Strings.h"
#include "web/CAnnouncement.h"
#include "web/CHyperLink.h"
#include "web/SiteLinks.h"

namespace app {

using musicport::CDMusicException;
using musicport::DWORD;
using musicport::MakeMidiMsg;
namespace pm = platform::music;

CMainDlg* CMainDlg::s_instance = nullptr;

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The collection loader is not part of the program yet, so a port that supports
// downloadable sounds is driven in General MIDI mode: its program changes select the
// General MIDI instruments of the SoundFont it loaded.
constexpr bool kCollectionsAvailable = false;

// Window sizes in pixels, menu bar included.
constexpr QSize kStartupSize{675, 320};

}  // namespace

CMainDlg::CMainDlg(MainServices services, QWidget* parent) : QDialog(parent), m_services(services) {
    res::InitResources();
    const res::DialogTemplate& dialog = res::MainDialogTemplate();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(FromUtf8(dialog.title));
    setWindowIcon(QIcon(ImagePath("icon", res::IDI_APP)));
    s_instance = this;
}

CMainDlg::~CMainDlg() {
    if (!m_destroyed)
        OnDestroy();
    if (s_instance == this)
        s_instance = nullptr;
}

QAction* CMainDlg::Command(int id) const {
    const auto it = m_commands.find(id);
    return it == m_commands.end() ? nullptr : it->second;
}

QWidget* CMainDlg::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CMainDlg::ReportToDebugger(const std::string& report) {
    platform::OutputDebugString(report);
}

int CMainDlg::DoModal() {
    OnInitDialog();
    int code = m_endCode;
    if (!m_endRequested) {
        m_inModalLoop = true;
        show();
        code = exec();
        m_inModalLoop = false;
    }
    if (!m_destroyed)
        OnDestroy();
    return code;
}

int CMainDlg::TransposeBase() const {
    return m_services.controls.TransposeBase();
}

void CMainDlg::PostQuitMessage(int code) {
    // The application ends with `code` however the dialog ends; the loop ends it when it
    // takes the request.
    m_quitCode = code;
    QMetaObject::invokeMethod(
        this, [this, code] { EndDialog(code); }, Qt::QueuedConnection);
}

void CMainDlg::EndDialog(int code) {
    m_endRequested = true;
    m_endCode = code;
    if (m_inModalLoop)
        done(code);
}

void CMainDlg::CreateMenuBar() {
    m_pMainMenu = new QMenuBar(this);
    QMenu* file = m_pMainMenu->addMenu(QStringLiteral("录音文件"));
    m_commands[res::ID_FILE_NEW] = file->addAction(QStringLiteral("新建"));
    m_commands[res::ID_FILE_OPEN] = file->addAction(QStringLiteral("打开"));
    m_commands[res::ID_FILE_SAVE] = file->addAction(QStringLiteral("保存"));
    m_commands[res::ID_FILE_SAVE_AS] = file->addAction(QStringLiteral("保存为"));
    file->addSeparator();
    m_commands[res::ID_INSTRUCTIONS] = file->addAction(QStringLiteral("使用说明"));
    QMenu* maker = m_pMainMenu->addMenu(QStringLiteral("岚桥科技"));
    m_commands[res::ID_WEB_SITE] =
        maker->addAction(QStringLiteral("进入网站 ") + FromUtf8(res::kSiteHost));
    m_commands[res::ID_EMAIL] = maker->addAction(QStringLiteral("Email: ") + FromUtf8(res::kEmail));
    m_pMainMenu->adjustSize();
    // Opening any menu releases every sounding note.
    for (QMenu* menu : m_pMainMenu->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &CMainDlg::OnInitMenu);
}

void CMainDlg::BindControls() {
    auto bind = [this](auto*& member, int id) {
        member = qobject_cast<std::remove_reference_t<decltype(member)>>(Control(id));
        Q_ASSERT(member != nullptr);
    };
    bind(m_announcement, res::IDC_ANNOUNCEMENT);
    bind(m_linkProduct, res::IDC_LINK_PRODUCT);
    bind(m_linkSite, res::IDC_LINK_SITE_ICON);
    bind(m_linkLogo, res::IDC_LINK_LOGO);
    bind(m_volumeSlider, res::IDC_VOLUME);
    bind(m_pitchSlider, res::IDC_PITCH);
    bind(m_banner, res::IDC_BANNER);
    bind(m_noteRangeCombo, res::IDC_NOTE_RANGE);
    bind(m_progress, res::IDC_PROGRESS);
    bind(m_stopButton, res::IDC_STOP);
    bind(m_recordButton, res::IDC_RECORD);
    bind(m_playButton, res::IDC_PLAY);
    bind(m_outputCombo, res::IDC_OUTPUT_PORT);
    bind(m_inputCombo, res::IDC_INPUT_PORT);
    bind(m_list, res::IDC_MESSAGE_LIST);
    bind(m_instrumentCombo, res::IDC_INSTRUMENT);
    bind(m_piano, res::IDC_PIANO);
    QLabel* keyName = nullptr;
    bind(keyName, res::IDC_PITCH_NAME);
    m_controlsBinding = std::make_unique<performance::ControlsBinding>(
        m_services.controls,
        performance::ControlsBinding::Widgets{*this, *m_pitchSlider, *keyName, *m_noteRangeCombo,
                                              *m_volumeSlider, *m_piano},
        performance::ControlsBinding::Hooks{
            [this] { AllNotesOff(); },
            [this](std::string_view text, std::string_view caption) {
                m_services.prompts.ShowMessage(text, caption, PromptIcon::Error);
            },
            [this](int code) { PostQuitMessage(code); }});
    connect(qobject_cast<QPushButton*>(Control(res::IDC_CLEAR_LIST)), &QPushButton::clicked, this,
            &CMainDlg::OnClearMessageList);
}

CMainDlg::BOOL CMainDlg::OnInitDialog() {
    // 1. The controls of template 102 under the menu bar, bound to their members.
    CreateMenuBar();
    const res::DialogTemplate& dialog = res::MainDialogTemplate();
    m_client = new QWidget(this);
    m_client->setGeometry(0, m_pMainMenu->height(), res::DialogUnitsToPixels(dialog.width),
                          res::DialogUnitsToPixels(dialog.height));
    m_controls = BuildControls(m_client, dialog);
    BindControls();
    StartRecorder();
    resize(res::DialogUnitsToPixels(dialog.width),
           m_pMainMenu->height() + res::DialogUnitsToPixels(dialog.height));

    // 2. The About item: X11 leaves the system menu to the window manager, so it sits in the
    //    window's own menu (right click on the background, Alt+Space) with the other window
    //    commands.
    m_services.commands.Attach(
        {*this, *m_pMainMenu, *qobject_cast<QPushButton*>(Control(res::IDC_REDUCE_EXPAND)),
         *qobject_cast<QPushButton*>(Control(res::IDC_ADVANCED)),
         [this](QSize size) { setFixedSize(size); }, [this] { OnInitMenu(); }},
        m_commands);
    // 3. The menu bar is m_pMainMenu (created above).
    // 4. Icons: set on the window at construction.

    // 5. Music start. On failure steps 6 to 11 are skipped and the dialog ends once start-up
    //    is over.
    const bool musicStarted = InitDirectMusic();
    if (!musicStarted) {
        EndDialog(0);
    } else {
        // 6. Ports, loader, lists, receiver, notification and thru.
        InitMusicPorts();
        // 7. Piano: five octaves of unit 5 from note 36, played through the dialog.
        if (!m_piano->BuildKeyboard(5, 5)) {
            m_services.prompts.ShowMessage(res::kMemoryAllocationFailed, {}, PromptIcon::None);
            ShutdownAndClose();
        }
        m_piano->SetFirstNote(36);
        m_piano->SetListener(&m_pianoListener);
        m_controlsBinding->InitNoteRange();
        // 8. Instrument list in General MIDI mode.
        if (m_bDlsPort == 0)
            FillGMInstrumentList();
        // 9. Message list, 10. buttons and pictures, 11. playback wake-up event.
        m_playButton->setEnabled(false);
        m_stopButton->setEnabled(false);
        m_playButton->setIcon(QIcon(ImagePath("icon", res::IDI_PLAY)));
        m_stopButton->setIcon(QIcon(ImagePath("icon", res::IDI_STOP)));
        m_recordButton->setIcon(QIcon(ImagePath("icon", res::IDI_RECORD)));
        m_commands[res::ID_FILE_SAVE]->setEnabled(false);
        // 11. The playback wake-up belongs to each playback run (m_recorder).
    }

    // 12. Key-bed device: opened when present, picked up when plugged in later.
    StartKeyBed();

    // 13. Pitch slider -1 .. 1 at 0, transpose base 36. 14. Volume slider 0 .. 10.
    m_controlsBinding->InitPitch();
    m_controlsBinding->InitVolume();
    // 15. Mixer: opened, read, and the volume slider placed; failures ask to quit with -1.
    m_services.controls.InitMixer();
    // 16. The 25 ms scan runs on the key-bed thread whenever the device is open (step 12).
    // 17. Links to the maker's site and product page.
    web::SetUpSiteLinks(*m_linkLogo, *m_linkSite, *m_linkProduct, m_services.shell);
    // 18. The announcement replaces the label's text when one arrives (at most 3 s).
    const std::string announcement = m_services.announcement.Fetch([this](std::string_view text) {
        m_services.prompts.ShowMessage(text, {}, PromptIcon::None);
    });
    if (!announcement.empty())
        m_announcement->setText(FromUtf8(announcement));

    // 19. The window size at the end of start-up, centred for that size on its screen.
    setFixedSize(kStartupSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(CentredPlacement(kStartupSize, screen->availableGeometry()));
    return 1;
}

bool CMainDlg::InitDirectMusic() {
    try {
        m_services.music.Initialize(reinterpret_cast<pm::WindowHandle>(winId()), nullptr);
        return true;
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        m_services.prompts.ShowMessage(res::kCannotInitializeSynth, {}, PromptIcon::None);
        ReportToDebugger(copy.GetReport());
        return false;
    }
}

void CMainDlg::InitMusicPorts() {
    pm::TakeErrorInfo();  // a cause left from an earlier failure is not this one's
    try {
        m_services.outputPort.Initialize(m_services.music);
        FillPortLists();
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        if (copy.GetCode() != -1) {
            // The platform's words for the cause (which file or server, what failed) go
            // beneath the fixed text.
            m_services.prompts.ShowDetailedMessage(res::kPortInitError, pm::TakeErrorInfo(), {},
                                                   PromptIcon::None);
            ShutdownAndClose();
        }
        ReportToDebugger(copy.GetReport());
    }
}

void CMainDlg::FillPortLists() {
    const DWORD outputs = m_services.outputPort.GetNumPorts();
    for (DWORD k = 1; k <= outputs; ++k) {
        musicport::PortInfo info{};
        m_services.outputPort.GetPortInfo(k, &info);
        m_outputCombo->addItem(QString::fromUtf8(info.szPortDescription.data()),
                               QVariant::fromValue<uint>(info.dwFlags));
        if (k != 1)
            continue;
        m_services.outputPort.SetPortParams(0, 0, 1, info.dwEffectFlags, 44100);
        m_services.outputPort.ActivatePort(&info, 32);
        m_nOutputPortIndex = 0;
        m_outputCombo->setCurrentIndex(0);
        if (kCollectionsAvailable && (info.dwFlags & (pm::DMUS_PC_DLS | pm::DMUS_PC_DLS2))) {
            m_bDlsPort = 1;
            FillDLSInstrumentList();
        }
    }
}

void CMainDlg::FillGMInstrumentList() {
    for (int program = 0; program < 128; ++program)
        m_instrumentCombo->addItem(FromUtf8(GetGMProgramName(program)));
    m_instrumentCombo->setCurrentIndex(0);
}

void CMainDlg::FillDLSInstrumentList() {
    // Listing the default collection's instruments needs the collection loader; see
    // kCollectionsAvailable.
}

void CMainDlg::OnSelchangeInstrument() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    const int selection = m_instrumentCombo->currentIndex();
    const BYTE program = selection < 0 ? BYTE{255} : BYTE(selection);
    try {
        m_services.outputPort.SendMidiMsg(MakeMidiMsg(0xC0, 0, program, 0), 0);
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        ReportToDebugger(copy.GetReport());
    }
}

void CMainDlg::ShutdownAndClose() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    try {
        // 1. All Notes Off on channel 0 first, so nothing keeps sounding after the window.
        m_services.outputPort.SendMidiMsg(MakeMidiMsg(0xB0, 0, 123, 0), 0);
        // 2-3. Unload the collection and the instrument (with the collection loader).
        // 4. Wake the player so that it ends; OnDestroy joins it.
        if (m_recorder)
            m_recorder->OnClosing();
        // 5-6. Break the thru connection and stop input notification (with the input port).
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        ReportToDebugger(copy.GetReport());
    }
    EndDialog(0);
}

void CMainDlg::PlayNote(BYTE note, BOOL on) {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    // 1. Cut-off: the 49 notes from the transpose base sound, for note-on and note-off alike.
    if (int(note) >= TransposeBase() + 49)
        return;
    // 2-3. Channel 1, velocity 127; a real note-off, never a note-on with velocity 0.
    const DWORD message = MakeMidiMsg(on ? 0x90 : 0x80, 0, note, 127);
    try {
        m_services.outputPort.SendMidiMsg(message, 0);
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        ReportToDebugger(copy.GetReport());
    }
    // 4-5. The recording step: a message whose send failed is still recorded.
    if (m_recorder)
        m_recorder->RecordMessage(message);
}

void CMainDlg::AllNotesOff() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    if (m_piano != nullptr) {
        for (int note = m_piano->GetFirstNote(); note <= m_piano->GetLastNote(); ++note)
            m_piano->ReleaseKey(BYTE(note));
    }
    try {
        m_services.outputPort.SendMidiMsg(MakeMidiMsg(0xB0, 0, 123, 0), 0);
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        ReportToDebugger(copy.GetReport());
    }
}

void CMainDlg::OnClearMessageList() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    m_list->DeleteAllItems();
}

void CMainDlg::PianoListener::NoteOn(BYTE note) {
    CMainDlg* dialog = CMainDlg::Instance();
    if (dialog == nullptr)
        return;
    static const QCursor keyPress(QPixmap(ImagePath("cursor", res::IDC_KEYPRESS_CURSOR)), 0, 0);
    dialog->m_piano->setCursor(keyPress);
    dialog->PlayNote(note, 1);
    dialog->m_list->AddMessage(note, 127, 1);
}

void CMainDlg::PianoListener::NoteOff(BYTE note) {
    CMainDlg* dialog = CMainDlg::Instance();
    if (dialog == nullptr)
        return;
    dialog->m_piano->setCursor(Qt::ArrowCursor);
    dialog->PlayNote(note, 0);
}

void CMainDlg::OnActivate(bool active) {
    m_bActivated = 1;
    if (!active)
        AllNotesOff();
}

void CMainDlg::OnMove() {
    if (m_bActivated == 1)
        OnActivate(false);
}

void CMainDlg::OnInitMenu() {
    OnActivate(false);
}

void CMainDlg::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange)
        OnActivate(isActiveWindow());
}

void CMainDlg::moveEvent(QMoveEvent* e) {
    QDialog::moveEvent(e);
    OnMove();
}

void CMainDlg::OnClose() {
    m_bClosing = 1;
    ShutdownAndClose();
}

void CMainDlg::OnDestroy() {
    m_destroyed = true;
    // The player uses the piano and the message list: it ends before they go.
    if (m_recorder)
        m_recorder->Shutdown();
    m_controlsBinding.reset();
    m_services.commands.Detach();
    // Unregister the notification first, then close the device (and stop its scan).
    if (m_keyBed)
        m_keyBed->Destroy();
    m_services.keyNoteMap.SetSink(nullptr);
}

void CMainDlg::StartRecorder() {
    m_recorderView =
        std::make_unique<DialogRecorderView>(*this, m_services.outputPort, m_services.prompts);
    m_recorder = std::make_unique<recorder::RecorderControl>(
        m_services.recorder, performance::PerformanceLock(), *m_recorderView, m_playbackTimer);
    m_songFile =
        std::make_unique<recorder::SongFileCommands>(*m_recorder, *m_recorderView, *m_recorderView);
    recorder::RecorderControl* control = m_recorder.get();
    connect(m_recordButton, &QPushButton::clicked, this, [control] { control->OnRecord(); });
    connect(m_stopButton, &QPushButton::clicked, this, [control] { control->OnStop(); });
    connect(m_playButton, &QPushButton::clicked, this, [control] { control->OnPlay(); });
    recorder::SongFileCommands* file = m_songFile.get();
    connect(m_commands[res::ID_FILE_NEW], &QAction::triggered, this, [file] { file->OnNewSong(); });
    connect(m_commands[res::ID_FILE_OPEN], &QAction::triggered, this,
            [file] { file->OnOpenSong(); });
    connect(m_commands[res::ID_FILE_SAVE], &QAction::triggered, this,
            [file] { file->OnSaveSong(); });
    connect(m_commands[res::ID_FILE_SAVE_AS], &QAction::triggered, this,
            [file] { file->OnSaveSongAs(); });
}

void CMainDlg::OnSongInfo() {
    if (m_songFile)
        m_songFile->OnSongInfo();
}

void CMainDlg::StartKeyBed() {
    m_services.keyNoteMap.SetSink(&m_keyNoteSink);
    // Both hooks run on other threads and only post: plug events and scan ticks each reach
    // the dialog through their own queued call, never as key releases.
    // Device events go to a receiver of their own, not through CMainDlg::event: handling one
    // stops the scan, which may wait for a USB transfer, and that must not happen under the
    // performance lock.
    auto postDeviceEvent = [this](unsigned code) {
        QMetaObject::invokeMethod(
            &m_keyBedEvents, [this, code] { OnDeviceEvent(code); }, Qt::QueuedConnection);
    };
    auto postKeyEvents = [this](std::span<const device::KeyEvent> events) {
        QMetaObject::invokeMethod(
            this,
            [this, copy = std::vector<device::KeyEvent>(events.begin(), events.end())] {
                OnKeyEvents(copy);
            },
            Qt::QueuedConnection);
    };
    m_keyBed = std::make_unique<device::KeyBed>(m_services.keyBedDevice, m_keyBedView,
                                                postDeviceEvent, postKeyEvents);
    m_keyBed->Start(0);
}

void CMainDlg::OnDeviceEvent(unsigned code) {
    if (m_keyBed && !m_destroyed)
        m_keyBed->OnDeviceEvent(code);
}

void CMainDlg::OnKeyEvents(std::span<const device::KeyEvent> events) {
    if (m_destroyed)
        return;
    performance::PerformanceGuard lock(performance::PerformanceLock());
    m_services.keyNoteMap.HandleKeyEvents(events);
}

void CMainDlg::KeyBedView::SetWindowTitle(std::string_view title) {
    m_dialog.setWindowTitle(FromUtf8(title));
}

void CMainDlg::KeyBedView::ShowErrorBox(std::string_view text, std::string_view caption) {
    m_dialog.m_services.prompts.ShowMessage(text, caption, PromptIcon::Error);
}

void CMainDlg::KeyNoteSink::PressKey(BYTE note) {
    m_dialog.m_piano->PressKey(note);
}

void CMainDlg::KeyNoteSink::ReleaseKey(BYTE note) {
    m_dialog.m_piano->ReleaseKey(note);
}

int CMainDlg::KeyNoteSink::FirstNote() const {
    return m_dialog.m_piano->GetFirstNote();
}

void CMainDlg::KeyNoteSink::PlayNote(BYTE note, BOOL on) {
    m_dialog.PlayNote(note, on);
}

void CMainDlg::KeyNoteSink::AddMessage(BYTE note, BYTE velocity, int source) {
    m_dialog.m_list->AddMessage(note, velocity, source);
}

void CMainDlg::KeyNoteSink::TakeFocus() {
    m_dialog.setFocus();
}

bool CMainDlg::event(QEvent* e) {
    // Every message of the dialog is handled under the performance lock, so no handler runs
    // at the same time as the input or player thread's work on shared state.
    performance::PerformanceGuard lock(performance::PerformanceLock());
    return QDialog::event(e);
}

void CMainDlg::closeEvent(QCloseEvent* e) {
    e->ignore();
    OnClose();
}

void CMainDlg::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Escape:
            EndDialog(QDialog::Rejected);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the focused push button, otherwise it ends the dialog as OK.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                button->click();
                return;
            }
            EndDialog(QDialog::Accepted);
            return;
        default:
            QDialog::keyPressEvent(e);
    }
}

}  // namespace app
