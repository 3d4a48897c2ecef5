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
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include "app/CInputReceiver.h"
#include "app/DialogBuilder.h"
#include "app/DialogRecorderView.h"
#include "app/IUserPrompts.h"
#include "app/PortSelection.h"
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
#include "platform/process/RealtimeThread.h"
#include "recorder/RecorderControl.h"
#include "recorder/SongFileCommands.h"
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "res/Resources.h"
#include "res/Strings.h"
#include "web/AnnouncementFetch.h"
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

// How often the port lists are compared with the machine's MIDI ports.
constexpr int kPortRefreshMs = 1000;

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
         [this](QSize size) { ResizeOnScreen(size); }, [this] { OnInitMenu(); }},
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
        if (!IsDlsMode())
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
    // 18. The announcement replaces the label's text when one arrives (at most 3 s). It is
    //     fetched on a thread of its own, so the window does not wait for the network.
    m_announcementFetch = std::make_unique<web::AnnouncementFetch>(
        m_services.announcement, *this,
        [this](const std::string& text) {
            if (!text.empty())
                m_announcement->setText(FromUtf8(text));
        },
        [this](std::string_view text) {
            m_services.prompts.ShowMessage(text, {}, PromptIcon::None);
        });

    // 19. The window size at the end of start-up, centred for that size on its screen.
    setFixedSize(kStartupSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(CentredPlacement(kStartupSize, screen->availableGeometry()));
    return 1;
}

void CMainDlg::ResizeOnScreen(QSize size) {
    // The frame (title bar, borders) grows with the window; moved up or left only as far as
    // the larger window needs to stay inside the screen's available area.
    const QSize margins = frameGeometry().size() - geometry().size();
    const QRect frame(frameGeometry().topLeft(), size + margins);
    setFixedSize(size);
    if (const QScreen* screen = this->screen()) {
        const QPoint inside = KeptInside(frame, screen->availableGeometry());
        if (inside != frame.topLeft())
            move(inside);
    }
}

bool CMainDlg::InitDirectMusic() {
    return m_services.ports.InitDirectMusic(reinterpret_cast<pm::WindowHandle>(winId()));
}

void CMainDlg::InitMusicPorts() {
    m_services.ports.Bind(&m_portListsView);
    // Input reaches the dialog as queued calls; they are dropped with the dialog.
    m_services.receiver.Attach(&m_inputView, [this](std::function<void()> drain) {
        QMetaObject::invokeMethod(this, std::move(drain), Qt::QueuedConnection);
    });
    connect(m_outputCombo, &QComboBox::currentIndexChanged, this, &CMainDlg::OnSelchangeOutputPort);
    connect(m_inputCombo, &QComboBox::currentIndexChanged, this, &CMainDlg::OnSelchangeInputPort);
    // Choosing the entry already shown (an input that went away and came back) acts as well.
    connect(m_inputCombo, &QComboBox::activated, this, &CMainDlg::OnSelchangeInputPort);
    connect(m_instrumentCombo, &QComboBox::currentIndexChanged, this,
            &CMainDlg::OnSelchangeInstrument);
    m_services.ports.InitMusicPorts();
    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &CMainDlg::OnRefreshPorts);
    refresh->start(kPortRefreshMs);
}

void CMainDlg::FillPortLists() {
    m_services.ports.FillPortLists();
}

void CMainDlg::FillGMInstrumentList() {
    m_services.ports.FillGMInstrumentList();
}

void CMainDlg::FillDLSInstrumentList() {
    m_services.ports.FillDLSInstrumentList();
}

void CMainDlg::OnSelchangeInstrument() {
    m_services.ports.OnSelchangeInstrument();
}

int CMainDlg::OutputPortIndex() const {
    return m_services.ports.OutputPortIndex();
}

void CMainDlg::OnSelchangeOutputPort() {
    m_services.ports.OnSelchangeOutputPort();
}

void CMainDlg::OnSelchangeInputPort() {
    m_services.ports.OnSelchangeInputPort();
}

void CMainDlg::OnRefreshPorts() {
    if (!m_destroyed)
        m_services.ports.RefreshPorts([this] { m_services.receiver.ReleaseAll(); });
}

bool CMainDlg::IsDlsMode() const {
    return m_services.ports.IsDlsMode();
}

void CMainDlg::ShutdownMusic() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    // All Notes Off first, the collection and instrument, the playback wake-up (the player is
    // woken so that it ends; OnDestroy joins it), thru and input notification; a failing step
    // skips the rest.
    m_services.ports.Shutdown([this] {
        if (m_recorder)
            m_recorder->OnClosing();
    });
}

void CMainDlg::ShutdownAndClose() {
    performance::PerformanceGuard lock(performance::PerformanceLock());
    ShutdownMusic();
    EndDialog(0);
}

void CMainDlg::CloseFromOutside() {
    // A nested loop (a box, a file dialog) would keep its handler, and the dialog's own end,
    // waiting for the user: each one is closed, innermost first. A bounded number, in case one
    // refuses.
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == this)
            break;
        modal->close();
    }
    if (!m_destroyed && m_bClosing == 0)
        OnClose();
}

void CMainDlg::ShutdownWithoutDisplay() {
    if (m_destroyed)
        return;
    m_destroyed = true;  // nothing else of the dialog runs now
    // The player is woken to end but not joined: this thread may hold the performance lock in
    // an outer handler, and the process ends anyway.
    ShutdownMusic();
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
    m_announcementFetch.reset();
    // The player uses the piano and the message list: it ends before they go.
    if (m_recorder)
        m_recorder->Shutdown();
    m_controlsBinding.reset();
    m_services.commands.Detach();
    m_services.receiver.Attach(nullptr, {});
    m_services.ports.Bind(nullptr);
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
    m_keyBed->SetScanThreadSetup(
        [] { platform::process::MakeThreadRealtime(platform::process::kKeyBedRealtimePriority); });
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

void CMainDlg::PortListsView::AddOutputPort(std::string_view text, DWORD flags) {
    const QSignalBlocker quiet(m_dialog.m_outputCombo);
    m_dialog.m_outputCombo->addItem(FromUtf8(text), QVariant::fromValue<uint>(flags));
}

void CMainDlg::PortListsView::SelectOutputPort(int position) {
    const QSignalBlocker quiet(m_dialog.m_outputCombo);
    m_dialog.m_outputCombo->setCurrentIndex(position);
}

int CMainDlg::PortListsView::OutputPortSelection() const {
    return m_dialog.m_outputCombo->currentIndex();
}

void CMainDlg::PortListsView::AddInputPort(std::string_view text) {
    const QSignalBlocker quiet(m_dialog.m_inputCombo);
    m_dialog.m_inputCombo->addItem(FromUtf8(text));
}

void CMainDlg::PortListsView::SelectInputPort(int position) {
    const QSignalBlocker quiet(m_dialog.m_inputCombo);
    m_dialog.m_inputCombo->setCurrentIndex(position);
}

int CMainDlg::PortListsView::InputPortSelection() const {
    return m_dialog.m_inputCombo->currentIndex();
}

void CMainDlg::PortListsView::ClearInstruments() {
    const QSignalBlocker quiet(m_dialog.m_instrumentCombo);
    m_dialog.m_instrumentCombo->clear();
}

void CMainDlg::PortListsView::AddInstrument(std::string_view text) {
    const QSignalBlocker quiet(m_dialog.m_instrumentCombo);
    m_dialog.m_instrumentCombo->addItem(FromUtf8(text));
}

void CMainDlg::PortListsView::SelectInstrument(int position) {
    const QSignalBlocker quiet(m_dialog.m_instrumentCombo);
    m_dialog.m_instrumentCombo->setCurrentIndex(position);
}

int CMainDlg::PortListsView::InstrumentSelection() const {
    return m_dialog.m_instrumentCombo->currentIndex();
}

void CMainDlg::PortListsView::FocusDialog() {
    m_dialog.setFocus();
}

void CMainDlg::PortListsView::ShutdownAndClose() {
    m_dialog.ShutdownAndClose();
}

void CMainDlg::InputView::PressKey(BYTE note) {
    if (m_dialog.m_piano != nullptr)
        m_dialog.m_piano->PressKey(note);
}

void CMainDlg::InputView::ReleaseKey(BYTE note) {
    if (m_dialog.m_piano != nullptr)
        m_dialog.m_piano->ReleaseKey(note);
}

void CMainDlg::InputView::AddMessage(BYTE note, BYTE velocity, int source) {
    m_dialog.m_list->AddMessage(note, velocity, source);
}

void CMainDlg::InputView::RecordingStep(DWORD message,
                                        std::chrono::steady_clock::time_point arrival) {
    // Recorded only while a recording runs, timed by its arrival; the input port's thru
    // connection sounds it.
    if (m_dialog.m_recorder)
        m_dialog.m_recorder->RecordMessage(message, arrival);
}

void CMainDlg::InputView::SendToOutput(DWORD message) {
    try {
        m_dialog.m_services.outputPort.SendMidiMsg(message, 0);
    } catch (const CDMusicException& e) {
        CDMusicException copy = e;
        m_dialog.ReportToDebugger(copy.GetReport());
    }
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
