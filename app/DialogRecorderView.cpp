#include "app/DialogRecorderView.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include "app/CTextEntryDlg.h"
#include "app/IRecorderDialog.h"
#include "app/IUserPrompts.h"
#include "musicport/CDMusicException.h"
#include "musicport/COutputPort.h"
#include "musicport/PortInfo.h"
#include "performance/CMidiListCtrl.h"
#include "piano/CPianoCtrl.h"
#include "platform/log/DebugOutput.h"
#include "res/ResourceIds.h"

namespace app {
namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The song file dialog. A name with a wildcard (the initial "*.tnd" among them) is a pattern,
// not a file: accepting it leaves the dialog open instead of opening or writing a file of that
// name.
class SongFileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QString name = QFileInfo(files.front()).fileName();
            if (name.contains(u'*') || name.contains(u'?'))
                return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

DialogRecorderView::DialogRecorderView(IRecorderDialog& dialog, musicport::COutputPort& outputPort,
                                       IUserPrompts& prompts)
    : m_host(dialog), m_dialog(dialog.Window()), m_outputPort(outputPort), m_prompts(prompts) {}

void DialogRecorderView::EnableRecordButton(bool enable) {
    m_host.Control(res::IDC_RECORD)->setEnabled(enable);
}

void DialogRecorderView::EnablePlayButton(bool enable) {
    m_host.Control(res::IDC_PLAY)->setEnabled(enable);
}

void DialogRecorderView::EnableStopButton(bool enable) {
    m_host.Control(res::IDC_STOP)->setEnabled(enable);
}

void DialogRecorderView::EnableNewItem(bool enable) {
    m_host.Command(res::ID_FILE_NEW)->setEnabled(enable);
}

void DialogRecorderView::TakeFocus() {
    m_dialog.setFocus();
}

void DialogRecorderView::AllNotesOff() {
    m_host.AllNotesOff();
}

void DialogRecorderView::ShowMessage(std::string_view text) {
    m_prompts.ShowMessage(text, {}, PromptIcon::None);
}

void DialogRecorderView::PostProgressRange(int low, int high) {
    auto* bar = qobject_cast<QProgressBar*>(m_host.Control(res::IDC_PROGRESS));
    QMetaObject::invokeMethod(
        bar, [bar, low, high] { bar->setRange(low, high); }, Qt::QueuedConnection);
}

void DialogRecorderView::PostProgressPos(std::uint32_t position) {
    auto* bar = qobject_cast<QProgressBar*>(m_host.Control(res::IDC_PROGRESS));
    QMetaObject::invokeMethod(
        bar, [bar, position] { bar->setValue(int(position)); }, Qt::QueuedConnection);
}

void DialogRecorderView::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(&m_dialog, std::move(task), Qt::QueuedConnection);
}

void DialogRecorderView::SendMidiMsg(std::uint32_t msg) {
    try {
        m_outputPort.SendMidiMsg(msg, 0);
    } catch (const musicport::CDMusicException& e) {
        musicport::CDMusicException copy = e;
        platform::OutputDebugString(copy.GetReport());
    }
}

void DialogRecorderView::PressKey(std::uint8_t note) {
    m_host.Piano()->PressKey(note);
}

void DialogRecorderView::ReleaseKey(std::uint8_t note) {
    m_host.Piano()->ReleaseKey(note);
}

void DialogRecorderView::AddMessage(std::uint8_t note, std::uint8_t velocity, int source) {
    m_host.MessageList()->AddMessage(note, velocity, source);
}

std::optional<std::filesystem::path> DialogRecorderView::AskPath(bool save) {
    SongFileDialog dialog(&m_dialog);
    dialog.setNameFilter(QStringLiteral("键乐坊录音文件(*.tnd)"));
    dialog.setDefaultSuffix(QStringLiteral("tnd"));
    dialog.selectFile(QStringLiteral("*.tnd"));
    // Open takes a name that does not exist (reading reports it); Save As replaces a file
    // without asking.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return std::filesystem::path(dialog.selectedFiles().front().toStdString());
}

std::optional<std::filesystem::path> DialogRecorderView::AskOpenPath() {
    return AskPath(false);
}

std::optional<std::filesystem::path> DialogRecorderView::AskSavePath() {
    return AskPath(true);
}

std::string DialogRecorderView::AskText(std::string_view prompt) {
    CTextEntryDlg dialog(m_prompts, &m_dialog);
    dialog.Ask(FromUtf8(prompt));
    return dialog.Text().toStdString();
}

void DialogRecorderView::ShowMessage(std::string_view text, bool stopIcon) {
    m_prompts.ShowMessage(text, {}, stopIcon ? PromptIcon::Error : PromptIcon::None);
}

void DialogRecorderView::SetAuthorLabel(std::string_view text) {
    qobject_cast<QLabel*>(m_host.Control(res::IDC_AUTHOR))->setText(FromUtf8(text));
}

void DialogRecorderView::SetTitleLabel(std::string_view text) {
    qobject_cast<QLabel*>(m_host.Control(res::IDC_TITLE))->setText(FromUtf8(text));
}

void DialogRecorderView::EnableSaveItem() {
    m_host.Command(res::ID_FILE_SAVE)->setEnabled(true);
}

std::uint32_t DialogRecorderView::CurrentPortFlags() {
    musicport::PortInfo info{};
    try {
        m_outputPort.GetPortInfo(musicport::DWORD(m_host.OutputPortIndex() + 1), &info);
    } catch (const musicport::CDMusicException& e) {
        musicport::CDMusicException copy = e;
        platform::OutputDebugString(copy.GetReport());
    }
    return info.dwFlags;
}

int DialogRecorderView::OutputPortCount() {
    const int listed = qobject_cast<QComboBox*>(m_host.Control(res::IDC_OUTPUT_PORT))->count();
    try {
        return std::min(listed, int(m_outputPort.GetNumPorts()));
    } catch (const musicport::CDMusicException& e) {
        musicport::CDMusicException copy = e;
        platform::OutputDebugString(copy.GetReport());
        return 0;
    }
}

std::uint32_t DialogRecorderView::OutputPortFlags(int index) {
    return qobject_cast<QComboBox*>(m_host.Control(res::IDC_OUTPUT_PORT))->itemData(index).toUInt();
}

void DialogRecorderView::SelectOutputPort(int index) {
    // The port change itself follows the list's selection (its change handler).
    qobject_cast<QComboBox*>(m_host.Control(res::IDC_OUTPUT_PORT))->setCurrentIndex(index);
}

int DialogRecorderView::InstrumentSelection() {
    return qobject_cast<QComboBox*>(m_host.Control(res::IDC_INSTRUMENT))->currentIndex();
}

void DialogRecorderView::SelectInstrument(int index) {
    auto* combo = qobject_cast<QComboBox*>(m_host.Control(res::IDC_INSTRUMENT));
    {
        // The handler runs once, below, whether or not the selection changed.
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
    m_host.OnSelchangeInstrument();
}

}  // namespace app
