// The menus, the window's own commands, the links and the announcement in the real dialog
// (offscreen).

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "app/CInstructionsDlg.h"
#include "app/MessageBoxPrompts.h"
#include "tests/app/DialogFixture.h"
#include "web/CHyperLink.h"

namespace {

using ::testing::ElementsAre;
using WindowCommandsTest = dialog_test::DialogFixture;

QPushButton* Button(app::CMainDlg& dialog, int id) {
    return qobject_cast<QPushButton*>(dialog.Control(id));
}

QAction* MenuItem(app::CMainDlg& dialog, const QString& text) {
    for (QAction* action : dialog.MenuBar()->findChildren<QAction*>()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Runs `open`, which must bring up the instructions dialog modally; returns its title and
// size as seen from inside it, closing it with its "关闭" button.
struct Seen {
    QString title;
    QSize size;
    QString button;
};
Seen OpenInstructions(const std::function<void()>& open) {
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<app::CInstructionsDlg*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        seen.title = box->windowTitle();
        seen.size = box->size();
        QPushButton* close = box->findChild<QPushButton*>();
        seen.button = close->text();
        close->click();
    });
    open();
    return seen;
}

TEST_F(WindowCommandsTest, TheMenuItemAndAboutOpenTheSameInstructions) {
    Run([&](app::CMainDlg& dialog) {
        const Seen fromMenu = OpenInstructions([&] { MenuItem(dialog, "使用说明")->trigger(); });
        QMenu* windowMenu = commands.WindowMenu();
        ASSERT_NE(windowMenu, nullptr);
        QAction* about = windowMenu->actions().back();
        EXPECT_EQ(about->text(), QStringLiteral("&About Tunestead..."));
        const Seen fromAbout = OpenInstructions([&] { about->trigger(); });
        for (const Seen& seen : {fromMenu, fromAbout}) {
            EXPECT_EQ(seen.title, QStringLiteral("使用说明 键乐坊V1.1 （免费版）"));
            EXPECT_EQ(seen.size, QSize(327, 172));  // 187 × 98 dialog units
            EXPECT_EQ(seen.button, QStringLiteral("关闭"));
        }
    });
}

TEST_F(WindowCommandsTest, ReduceExpandGivesTheThreeSizesAndIsReachableAt320) {
    Run([&](app::CMainDlg& dialog) {
        QPushButton* button = Button(dialog, res::IDC_REDUCE_EXPAND);
        const QPoint position = dialog.pos();
        EXPECT_EQ(dialog.size(), QSize(675, 320));
        // At the start-up size the button lies below the window's edge ...
        EXPECT_GT(button->mapTo(&dialog, QPoint(0, 0)).y(), 320);
        // ... and the window menu holds the same command.
        QAction* item = commands.WindowMenu()->actions().front();
        EXPECT_EQ(item->text(), QStringLiteral("Reduce <<"));
        item->trigger();
        EXPECT_EQ(dialog.size(), QSize(677, 380));
        EXPECT_EQ(button->text(), QStringLiteral("Expand >>"));
        EXPECT_EQ(item->text(), QStringLiteral("Expand >>"));
        button->click();
        EXPECT_EQ(dialog.size(), QSize(677, 590));
        EXPECT_EQ(button->text(), QStringLiteral("Reduce <<"));
        EXPECT_LT(button->mapTo(&dialog, QPoint(0, button->height())).y(), 590);
        // Left where it was, the expanded window would end below the screen: it moves up just
        // far enough to end at the bottom of the available area.
        const QRect available = dialog.screen()->availableGeometry();
        ASSERT_GT(position.y() + 590 - 1, available.bottom());
        EXPECT_EQ(dialog.pos().x(), position.x());
        EXPECT_EQ(dialog.frameGeometry().bottom(), available.bottom());
        // Reduced again, it stays where it is.
        const QPoint expanded = dialog.pos();
        button->click();
        EXPECT_EQ(dialog.pos(), expanded);
    });
}

TEST_F(WindowCommandsTest, EveryWayIntoAMenuReleasesAllNotes) {
    struct Case {
        const char* name;
        std::function<void(app::CMainDlg&)> enter;
    };
    const std::vector<Case> cases{
        {"Alt alone", [](app::CMainDlg& d) { QTest::keyClick(&d, Qt::Key_Alt); }},
        {"F10", [](app::CMainDlg& d) { QTest::keyClick(&d, Qt::Key_F10); }},
        {"Alt+Space",
         [](app::CMainDlg& d) { QTest::keyClick(&d, Qt::Key_Space, Qt::AltModifier); }},
        {"right click",
         [](app::CMainDlg& d) {
             QWidget* background = d.Control(res::IDC_ANNOUNCEMENT)->parentWidget();
             QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 40),
                                     background->mapToGlobal(QPoint(5, 40)));
             QApplication::sendEvent(background, &event);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Run([&](app::CMainDlg& dialog) {
            dialog.PlayNote(60, 1);
            c.enter(dialog);
            QApplication::processEvents();
            EXPECT_THAT(Played(), ElementsAre(0x7F3C90u, 0x7BB0u));
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<QMenu*>(widget) != nullptr)
                    widget->close();
            }
        });
    }
}

TEST_F(WindowCommandsTest, SiteAndMailOpenThroughTheShell) {
    Run([&](app::CMainDlg& dialog) {
        QAction* site = MenuItem(dialog, "进入网站 www.tunestead.example");
        QAction* mail = MenuItem(dialog, "Email: support@tunestead.example");
        ASSERT_NE(site, nullptr);
        ASSERT_NE(mail, nullptr);
        site->trigger();
        mail->trigger();
        EXPECT_FALSE(MenuItem(dialog, "保存")->isEnabled());
        EXPECT_TRUE(MenuItem(dialog, "新建")->isEnabled());
    });
    EXPECT_THAT(shell.Opened(),
                ElementsAre("http://www.tunestead.example", "mailto:support@tunestead.example"));
}

TEST_F(WindowCommandsTest, AdvancedSettingsAndThePcKeyboardDoNothing) {
    Run([&](app::CMainDlg& dialog) {
        Button(dialog, res::IDC_ADVANCED)->click();
        for (const Qt::Key key : {Qt::Key_Z, Qt::Key_S, Qt::Key_A, Qt::Key_Q})
            QTest::keyClick(&dialog, key);
        EXPECT_EQ(dialog.size(), QSize(675, 320));
        EXPECT_TRUE(Played().empty());
        EXPECT_TRUE(prompts.shown.empty());
    });
}

TEST_F(WindowCommandsTest, LinksGetTheSiteAndProductAddresses) {
    Run([&](app::CMainDlg& dialog) {
        struct Case {
            int id;
            std::string url;
            std::string tip;
        };
        for (const Case& c :
             {Case{res::IDC_LINK_LOGO, "http://www.tunestead.example", "欢迎访问岚桥科技网站"},
              Case{res::IDC_LINK_SITE_ICON, "http://www.tunestead.example", "欢迎访问岚桥科技网站"},
              Case{res::IDC_LINK_PRODUCT, "http://www.tunestead.example/PD/TONEBENCH/TONEBENCH.htm",
                   "点击访问详情"}}) {
            auto* link = qobject_cast<web::CHyperLink*>(dialog.Control(c.id));
            ASSERT_NE(link, nullptr);
            EXPECT_EQ(link->GetUrl(), c.url);
            EXPECT_EQ(link->GetTip(), c.tip);
        }
        auto* product = qobject_cast<web::CHyperLink*>(dialog.Control(res::IDC_LINK_PRODUCT));
        QTest::mouseClick(product, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_TRUE(QTest::qWaitFor([&] { return product->GetVisited(); }, 2000));
    });
    EXPECT_THAT(shell.Opened(),
                ElementsAre("http://www.tunestead.example/PD/TONEBENCH/TONEBENCH.htm"));
}

TEST_F(WindowCommandsTest, TheAnnouncementReplacesTheLabelOnlyWhenOneArrives) {
    const QString resourceText = QStringLiteral("教你DIY 键乐坊键盘");
    struct Case {
        platform::http::HttpGetResult answer;
        QString label;
    };
    for (const Case& c :
         {Case{{platform::http::HttpError::None, 200, "\xBD\xCC\xC4\xE3 news", 9},
               QStringLiteral("教你 news")},
          // Markup from the network is shown as it is, never followed.
          Case{{platform::http::HttpError::None, 200, "<img src=\"/dev/zero\">", 21},
               QStringLiteral("<img src=\"/dev/zero\">")},
          Case{{platform::http::HttpError::Send, 0, {}, 0}, resourceText},
          Case{{platform::http::HttpError::None, 404, "Not Found", 9}, resourceText}}) {
        http.SetAnswer(c.answer);
        QString label;
        Qt::TextFormat format = Qt::AutoText;
        bool changed = false;
        Run([&](app::CMainDlg& dialog) {
            auto* announcement = qobject_cast<QLabel*>(dialog.Control(res::IDC_ANNOUNCEMENT));
            // The fetch runs beside the window; its outcome comes a moment later, if at all.
            changed = QTest::qWaitFor([&] { return announcement->text() != resourceText; }, 500);
            label = announcement->text();
            format = announcement->textFormat();
            announcement->grab();  // drawn as a user would see it
        });
        EXPECT_EQ(label, c.label);
        EXPECT_EQ(changed, c.label != resourceText);
        EXPECT_EQ(format, Qt::PlainText);
    }
    ASSERT_FALSE(http.Requests().empty());
    EXPECT_EQ(http.Requests()[0].host, "www.tunestead.example");
    EXPECT_EQ(http.Requests()[0].path, "/PD/TONEBENCH/AdWords.txt");
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(WindowCommandsTest, LabelsThatShowTextFromOutsideShowItPlain) {
    // The announcement, a song's author and title, the key name.
    const int ids[] = {res::IDC_ANNOUNCEMENT, res::IDC_AUTHOR, res::IDC_TITLE, res::IDC_PITCH_NAME};
    std::vector<Qt::TextFormat> formats;
    Run([&](app::CMainDlg& dialog) {
        for (const int id : ids)
            formats.push_back(qobject_cast<QLabel*>(dialog.Control(id))->textFormat());
    });
    EXPECT_EQ(formats, std::vector<Qt::TextFormat>(std::size(ids), Qt::PlainText));
}

TEST(MessageBoxPromptsTest, BoxesShowTheirTextPlain) {
    // A port name or a song's words in a box are never read as markup.
    const QString text = QStringLiteral("No instrument <b>with</b> that index <img src=\"x\">");
    QWidget owner;
    app::MessageBoxPrompts prompts(&owner);
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            format = box->textFormat();
            box->done(QMessageBox::Ok);
        }
    });
    watcher.start(10);
    prompts.ShowMessage(text.toStdString(), {}, app::PromptIcon::None);
    EXPECT_EQ(shown, text);
    EXPECT_EQ(format, Qt::PlainText);
}

}  // namespace
