// Record, Stop and Play in the real dialog (offscreen) over the scriptable music platform:
// buttons, the New item, the progress bar, playback rows, the text-entry dialog, and closing
// the window in the middle of a playback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "MusicStack.h"
#include "app/CMainDlg.h"
#include "app/CTextEntryDlg.h"
#include "app/IUserPrompts.h"
#include "app/WindowCommands.h"
#include "device/CKeyNoteMap.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "performance/CMidiListCtrl.h"
#include "performance/CPerformanceControls.h"
#include "piano/CPianoCtrl.h"
#include "platform/ch341/SimulatedKeyBed.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "platform/mixer/fake/FakeMixer.h"
#include "platform/music/ResultCodes.h"
#include "platform/shell/fake/FakeShell.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/RecorderControl.h"
#include "res/ResourceIds.h"
#include "tests/support/music/FakeMusicSystem.h"
#include "web/CAnnouncement.h"

namespace {

namespace pm = platform::music;
using pm::DWORD;
using ::testing::ElementsAre;

// A zero-time single shot is delivered through the dialog's own event handler, which holds the
// performance lock: the player could not run while the test waits. A timer's shot is not.
constexpr int kOutsideTheLock = 1;

class CountingPrompts final : public app::IUserPrompts {
public:
    void ShowMessage(std::string_view text, std::string_view, app::PromptIcon) override {
        shown.emplace_back(text);
    }
    std::vector<std::string> shown;
};

// A recording clock the test moves by hand.
class ManualClock final : public recorder::IMonotonicClock {
public:
    TimePoint Now() const override { return now; }
    TimePoint now{std::chrono::hours(1)};
};

class RecorderDialogTest : public ::testing::Test {
protected:
    RecorderDialogTest() {
        system.AddPort("Synth", pm::DMUS_PC_OUTPUTCLASS).Description(u"Built-in synthesizer");
    }

    app::MainServices Services() {
        return {stack.music,  stack.outputPort, prompts,     keyBed,
                keyNoteMap,   controls,         commands,    shell,
                announcement, noteRecorder,     stack.ports, stack.receiver};
    }
    std::vector<DWORD> Played() { return system.Port("Synth").Played(); }
    static void Click(app::CMainDlg& dialog, int id) {
        QTest::mouseClick(dialog.Control(id), Qt::LeftButton);
    }
    static bool Enabled(app::CMainDlg& dialog, int id) { return dialog.Control(id)->isEnabled(); }

    pm::fake::FakeMusicSystem system;
    CountingPrompts prompts;
    tests::MusicStack stack{system, prompts};
    platform::ch341::SimulatedKeyBed keyBed{false};
    device::CKeyNoteMap keyNoteMap;
    platform::mixer::fake::FakeMixer mixer{65535, 32768};
    performance::CPerformanceControls controls{mixer};
    platform::shell::fake::FakeShell shell;
    app::WindowCommands commands{shell};
    platform::http::fake::FakeHttpClient http;
    web::CAnnouncement announcement{http, "http://www.tunestead.example/PD/TONEBENCH/AdWords.txt"};
    ManualClock clock;
    recorder::CNoteRecorder noteRecorder{clock};
};

TEST_F(RecorderDialogTest, RecordTwoNotesByMouseThenPlayThemBackWithKeysRowsAndProgress) {
    app::CMainDlg dialog(Services());
    std::vector<DWORD> recorded;
    std::vector<DWORD> played;
    QColor playbackColour;
    QString playbackSource;
    QProgressBar* bar = nullptr;
    QTimer::singleShot(kOutsideTheLock, &dialog, [&] {
        EXPECT_TRUE(Enabled(dialog, res::IDC_RECORD));
        EXPECT_FALSE(Enabled(dialog, res::IDC_PLAY));
        EXPECT_FALSE(Enabled(dialog, res::IDC_STOP));
        Click(dialog, res::IDC_RECORD);
        EXPECT_FALSE(Enabled(dialog, res::IDC_RECORD));
        EXPECT_TRUE(Enabled(dialog, res::IDC_STOP));
        piano::CPianoCtrl* piano = dialog.Piano();
        QTest::mousePress(piano, Qt::LeftButton, {}, QPoint(10, 70));  // note 36
        clock.now += std::chrono::milliseconds(40);
        QTest::mouseRelease(piano, Qt::LeftButton, {}, QPoint(10, 70));
        clock.now += std::chrono::milliseconds(30);
        dialog.PlayNote(40, 1);
        dialog.PlayNote(90, 1);  // above the cut-off: neither sounded nor recorded
        Click(dialog, res::IDC_STOP);
        EXPECT_TRUE(Enabled(dialog, res::IDC_PLAY));
        recorded.assign(noteRecorder.GetData(), noteRecorder.GetData() + noteRecorder.GetCount());
        bar = qobject_cast<QProgressBar*>(dialog.Control(res::IDC_PROGRESS));

        dialog.MessageList()->DeleteAllItems();
        const std::size_t before = Played().size();
        Click(dialog, res::IDC_PLAY);
        EXPECT_FALSE(dialog.Command(res::ID_FILE_NEW)->isEnabled());
        EXPECT_FALSE(Enabled(dialog, res::IDC_PLAY));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return dialog.Recorder()->State() == recorder::RecordState::Idle; }, 10000));
        QApplication::processEvents();
        const std::vector<DWORD> all = Played();
        played.assign(all.begin() + long(before), all.end());
        dialog.MessageList()->ApplyPendingCells();
        playbackSource = dialog.MessageList()->GetItemText(0, 5);
        playbackColour = dialog.MessageList()->GetItemColor(0);
        EXPECT_TRUE(dialog.Command(res::ID_FILE_NEW)->isEnabled());
        EXPECT_TRUE(Enabled(dialog, res::IDC_PLAY));
        EXPECT_EQ(bar->maximum(), 2);
        EXPECT_EQ(bar->value(), 2);
        dialog.close();
    });
    dialog.DoModal();

    EXPECT_THAT(recorded, ElementsAre(0x0000FF24u, 0x00287F24u, 0x001EFF28u));
    // The release ends with All Notes Off from the end of playback.
    EXPECT_THAT(played, ElementsAre(0x7F2490u, 0x7F2480u, 0x7F2890u, 0x7BB0u));
    EXPECT_EQ(playbackSource, QStringLiteral("3"));
    EXPECT_EQ(playbackColour, QColor(127, 255, 255));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RecorderDialogTest, ClosingInTheMiddleOfALongWaitEndsThePlayerWithTheWindow) {
    app::CMainDlg dialog(Services());
    QTimer::singleShot(kOutsideTheLock, &dialog, [&] {
        Click(dialog, res::IDC_RECORD);
        dialog.PlayNote(60, 1);
        clock.now += std::chrono::seconds(60);
        dialog.PlayNote(60, 0);
        Click(dialog, res::IDC_STOP);
        Click(dialog, res::IDC_PLAY);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Played().size() >= 4; }, 5000));
        dialog.close();
    });
    EXPECT_EQ(dialog.DoModal(), 0);
    // The recording, All Notes Off of Stop, the note-on played back; after it only All Notes
    // Off (closing, deactivation): the note-off 60 s later never comes.
    const std::vector<DWORD> played = Played();
    ASSERT_GE(played.size(), 5u);
    EXPECT_THAT(std::vector<DWORD>(played.begin(), played.begin() + 4),
                ElementsAre(0x7F3C90u, 0x7F3C80u, 0x7BB0u, 0x7F3C90u));
    EXPECT_TRUE(
        std::all_of(played.begin() + 4, played.end(), [](DWORD m) { return m == 0x7BB0u; }));
}

TEST_F(RecorderDialogTest, PlayWithNothingRecordedSaysSo) {
    app::CMainDlg dialog(Services());
    QTimer::singleShot(kOutsideTheLock, &dialog, [&] {
        Click(dialog, res::IDC_RECORD);
        Click(dialog, res::IDC_STOP);
        Click(dialog, res::IDC_PLAY);
        EXPECT_TRUE(Enabled(dialog, res::IDC_RECORD));
        dialog.close();
    });
    dialog.DoModal();
    EXPECT_THAT(prompts.shown, ElementsAre("没有录音可以播放！"));
}

// Answers the next file dialog with `path` as soon as it is shown.
void AnswerFileDialog(const QString& path, bool* seen) {
    QTimer::singleShot(50, [path, seen] {
        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* fileDialog = qobject_cast<QFileDialog*>(widget);
                fileDialog && widget->isVisible())
                dialog = fileDialog;
        }
        if (dialog == nullptr) {
            AnswerFileDialog(path, seen);
            return;
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        *seen = dialog->nameFilters() == QStringList{QStringLiteral("键乐坊录音文件(*.tnd)")} &&
                dialog->defaultSuffix() == QStringLiteral("tnd") &&
                name->text() == QStringLiteral("*.tnd");
        // The initial name is a pattern: accepting it names no file, and the dialog stays.
        QTest::keyClick(name, Qt::Key_Return);
        *seen = *seen && dialog->isVisible();
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    });
}

TEST_F(RecorderDialogTest, SaveAsThenNewThenOpenThroughTheMenu) {
    std::string pattern = (std::filesystem::temp_directory_path() / "dialog.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const QString path = QString::fromStdString((dir / "歌.tnd").string());
    app::CMainDlg dialog(Services());
    bool saveDialogRight = false;
    bool openDialogRight = false;
    std::uint32_t countAfterNew = 99;
    std::vector<recorder::NoteEvent> reopened;
    std::vector<DWORD> programChanges;
    QString authorLabel;
    QTimer::singleShot(kOutsideTheLock, &dialog, [&] {
        EXPECT_FALSE(dialog.Command(res::ID_FILE_SAVE)->isEnabled());
        Click(dialog, res::IDC_RECORD);
        dialog.PlayNote(60, 1);
        clock.now += std::chrono::milliseconds(300);
        dialog.PlayNote(60, 0);
        Click(dialog, res::IDC_STOP);

        AnswerFileDialog(path, &saveDialogRight);
        dialog.Command(res::ID_FILE_SAVE_AS)->trigger();
        EXPECT_TRUE(dialog.Command(res::ID_FILE_SAVE)->isEnabled());

        dialog.Command(res::ID_FILE_NEW)->trigger();
        countAfterNew = noteRecorder.GetCount();
        EXPECT_FALSE(Enabled(dialog, res::IDC_PLAY));

        // Another instrument before Open, so that the song's own is a change of the list.
        qobject_cast<QComboBox*>(dialog.Control(res::IDC_INSTRUMENT))->setCurrentIndex(5);
        const std::size_t beforeOpen = Played().size();
        AnswerFileDialog(path, &openDialogRight);
        dialog.Command(res::ID_FILE_OPEN)->trigger();
        const std::vector<DWORD> played = Played();
        std::copy_if(played.begin() + std::ptrdiff_t(beforeOpen), played.end(),
                     std::back_inserter(programChanges),
                     [](DWORD message) { return (message & 0xF0) == 0xC0; });
        reopened.assign(noteRecorder.GetData(), noteRecorder.GetData() + noteRecorder.GetCount());
        EXPECT_TRUE(Enabled(dialog, res::IDC_PLAY));
        authorLabel = qobject_cast<QLabel*>(dialog.Control(res::IDC_AUTHOR))->text();
        dialog.close();
    });
    dialog.DoModal();
    std::filesystem::remove_all(dir);

    EXPECT_TRUE(saveDialogRight);
    EXPECT_TRUE(openDialogRight);
    EXPECT_EQ(countAfterNew, 0u);
    EXPECT_THAT(reopened, ElementsAre(0x0000FF3Cu, 0x012C7F3Cu));
    // The song's instrument is chosen once: one program change, back to the first entry.
    EXPECT_THAT(programChanges, ElementsAre(0xC0u));
    EXPECT_EQ(authorLabel, QStringLiteral("Author: "));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RecorderDialogTest, TextEntryRefusesFiftyBytesAndShowsThePrompt) {
    struct Case {
        QString typed;
        bool accepted;
    };
    const Case cases[] = {
        {QString(49, 'a'), true},
        {QString(50, 'a'), false},
        {QString(24, QChar(0x4F5C)) + "a", true},  // 24 × 作 is 48 bytes in GBK, then one
        {QString(25, QChar(0x4F5C)), false},       // 50 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        prompts.shown.clear();
        app::CTextEntryDlg entry(prompts);
        QString caption;
        QTimer::singleShot(0, &entry, [&] {
            caption = entry.windowTitle();
            entry.Edit()->setText(c.typed);
            entry.accept();
            if (entry.isVisible()) {
                EXPECT_EQ(entry.Edit()->selectedText(), c.typed);
                entry.reject();
            }
        });
        const int result = entry.Ask(QStringLiteral("作者姓名"));
        EXPECT_EQ(caption, QStringLiteral("作者姓名"));
        EXPECT_EQ(result, c.accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(entry.Text(), c.accepted ? c.typed : QString());
        EXPECT_EQ(prompts.shown, c.accepted ? std::vector<std::string>{}
                                            : std::vector<std::string>{"String too long"});
    }
}

}  // namespace
