// The hyperlink control with real widgets (offscreen): tips, cursor, hover, visited flag,
// opening through a shell, the error box, and FitToClient's rectangles.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "platform/shell/ShellCodes.h"
#include "platform/shell/XdgShell.h"
#include "platform/shell/fake/FakeShell.h"
#include "web/CHyperLink.h"
#include "web/FitToClient.h"

namespace {

using platform::shell::fake::FakeShell;
using web::CHyperLink;
using web::LinkRect;

TEST(CHyperLinkTest, TheTipIsTheAddressUntilOneIsSet) {
    CHyperLink link;
    link.SetUrl("http://h/");
    EXPECT_EQ(link.GetTip(), "http://h/");
    EXPECT_EQ(link.toolTip(), QStringLiteral("http://h/"));
    link.SetTip("欢迎访问岚桥科技网站");
    EXPECT_EQ(link.toolTip(), QStringLiteral("欢迎访问岚桥科技网站"));
    link.SetUrl("http://other/");  // a tip once set stays
    EXPECT_EQ(link.toolTip(), QStringLiteral("欢迎访问岚桥科技网站"));
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
}

TEST(CHyperLinkTest, HoverLastsFromTheFirstMoveOverItToTheFirstMoveOutside) {
    QWidget window;
    window.resize(200, 100);
    CHyperLink link(&window);
    link.setGeometry(10, 10, 40, 40);
    window.show();
    QTest::mouseMove(&link, QPoint(5, 5));
    EXPECT_TRUE(link.IsHovering());
    QTest::mouseMove(&link, QPoint(20, 20));
    EXPECT_TRUE(link.IsHovering());
    QTest::mouseMove(&link, QPoint(120, 20));  // outside: the capture is what still sees it
    EXPECT_FALSE(link.IsHovering());
}

TEST(CHyperLinkTest, AClickOpensTheAddressAndSetsVisitedOnlyOnSuccess) {
    struct Case {
        int code;
        bool visited;
        std::string box;
    };
    for (const Case& c : {Case{platform::shell::kOpened, true, ""},
                          Case{26, false,
                               "Unable to open hyperlink:\n\nA sharing violation "
                               "occurred. "},
                          Case{4, false,
                               "Unable to open hyperlink:\n\nUnknown Error (4) "
                               "occurred."}}) {
        SCOPED_TRACE(c.code);
        FakeShell shell(c.code);
        CHyperLink link;
        link.resize(40, 40);
        link.SetShell(&shell);
        link.SetUrl("http://www.tunestead.example/PD/TONEBENCH/TONEBENCH.htm");
        link.SetVisited(!c.visited);
        std::string box;
        link.SetErrorBox([&](const std::string& text) { box = text; });
        QSignalSpy opened(&link, &CHyperLink::Opened);
        QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(20, 20));
        ASSERT_TRUE(opened.wait(2000));
        EXPECT_EQ(shell.Opened(), std::vector<std::string>{
                                      "http://www.tunestead.example/PD/TONEBENCH/TONEBENCH.htm"});
        EXPECT_EQ(link.GetVisited(), c.visited);
        EXPECT_EQ(box, c.box);
    }
}

TEST(CHyperLinkTest, WithNoBrowserInstalledTheErrorBoxShows) {
    platform::shell::XdgShell shell({"/nonexistent-tunestead-path", {}});
    CHyperLink link;
    link.resize(40, 40);
    link.SetShell(&shell);
    link.SetUrl("http://www.tunestead.example");
    std::string box;
    link.SetErrorBox([&](const std::string& text) { box = text; });
    QSignalSpy opened(&link, &CHyperLink::Opened);
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_TRUE(opened.wait(5000));
    EXPECT_EQ(box,
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
              "filename extension.");
    EXPECT_FALSE(link.GetVisited());
}

// A shell whose opens end when the test says so, on the test's own thread, and that honours
// Cancel as the real one does.
class HeldShell final : public platform::shell::IShell {
public:
    std::shared_ptr<platform::shell::OpenRequest> Open(std::string, Completion done) override {
        held_ = std::make_shared<Held>();
        held_->done = std::move(done);
        return held_;
    }
    bool Cancelled() const { return held_ && held_->cancelled; }
    void Finish(int code) {
        if (held_ && !held_->cancelled && held_->done)
            held_->done(code);
    }

private:
    struct Held final : platform::shell::OpenRequest {
        void Cancel() override { cancelled = true; }
        Completion done;
        bool cancelled = false;
    };
    std::shared_ptr<Held> held_;
};

TEST(CHyperLinkTest, ALinkGoneBeforeItsOpenEndsIsNotCalledBack) {
    for (const bool gone : {false, true}) {
        SCOPED_TRACE(gone ? "link gone" : "link alive");
        HeldShell shell;
        auto link = std::make_unique<CHyperLink>();
        link->resize(40, 40);
        link->SetShell(&shell);
        link->SetUrl("http://www.tunestead.example");
        QSignalSpy opened(link.get(), &CHyperLink::Opened);
        QTest::mouseClick(link.get(), Qt::LeftButton, {}, QPoint(20, 20));
        if (gone)
            link.reset();
        EXPECT_EQ(shell.Cancelled(), gone);
        // Would post into a destroyed link if its open had not been cancelled.
        shell.Finish(platform::shell::kOpened);
        QApplication::processEvents();
        if (!gone) {
            EXPECT_EQ(opened.count(), 1);
            EXPECT_TRUE(link->GetVisited());
        }
    }
}

TEST(CHyperLinkTest, TheErrorBoxIsCaptionedWithTheProgramsNameAndShowsPlainText) {
    FakeShell shell(platform::shell::kNoAssociation);
    CHyperLink link;
    link.resize(40, 40);
    link.SetShell(&shell);
    link.SetUrl("http://www.tunestead.example");
    QString caption;
    Qt::TextFormat format = Qt::AutoText;
    // The box runs its own modal loop: look for it from a timer.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            format = box->textFormat();
            box->done(QMessageBox::Ok);
        }
    });
    watcher.start(10);
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !caption.isEmpty(); }, 5000));
    EXPECT_EQ(caption, QStringLiteral("键乐坊"));
    EXPECT_EQ(format, Qt::PlainText);
}

TEST(FitToClientTest, TheWindowShrinksToItsClientByStyle) {
    const LinkRect window{10, 20, 60, 50};  // 50 × 30
    struct Case {
        const char* name;
        int style;
        LinkRect fitted;
    };
    for (const Case& c : {
             Case{"left, top", 0, {10, 20, 50, 44}},
             Case{"centred", web::kStyleCenter, {15, 20, 55, 44}},
             Case{"right", web::kStyleRight, {20, 20, 60, 44}},
             Case{"centre image", web::kStyleCenterImage, {10, 23, 50, 47}},
             // Picture types share the low bits: an icon reads as centred, a bitmap as right.
             Case{"icon", web::kStyleIcon, {15, 20, 55, 44}},
             Case{"bitmap", web::kStyleBitmap, {20, 20, 60, 44}},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(web::FitRect(window, 40, 24, c.style), c.fitted);
    }
    // Odd differences halve toward zero.
    EXPECT_EQ(web::FitRect({0, 0, 11, 11}, 8, 8, web::kStyleCenter | web::kStyleCenterImage),
              (LinkRect{1, 1, 10, 10}));
}

}  // namespace
