// Opening addresses with xdg-open and the text/html desktop-entry fallback, with small
// stand-in programs on a PATH of the test's own; the error texts of a failed open.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/shell/ShellCodes.h"
#include "platform/shell/XdgShell.h"
#include "web/OpenErrorText.h"

namespace {

using platform::shell::XdgShell;
using ::testing::ElementsAre;

TEST(XdgShellTest, FallbackCommandIsCutBeforeTheFieldCodeAndTakesTheAddressWhole) {
    const std::string address = "http://h/a b;$(x)";
    struct Case {
        std::string exec;
        std::vector<std::string> argv;
    };
    for (const Case& c : {
             Case{"firefox %u", {"firefox", address}},
             Case{"firefox", {"firefox", address}},
             Case{"chromium --new-window %U --extra", {"chromium", "--new-window", address}},
             Case{"viewer %f", {"viewer", address}},
             Case{"viewer %F", {"viewer", address}},
             // A quoted field code: the open quote that the cut leaves adds no empty word.
             Case{"\"/opt/My Browser/run\" \"%u\"", {"/opt/My Browser/run", address}},
             Case{"env \"A=x \\\"y\\\"\" b %u", {"env", "A=x \"y\"", "b", address}},
         }) {
        SCOPED_TRACE(c.exec);
        EXPECT_EQ(XdgShell::FallbackCommand(c.exec, address), c.argv);
    }
}

TEST(XdgShellTest, ExecLineComesFromTheDesktopEntryGroup) {
    EXPECT_EQ(XdgShell::ExecLine("[Desktop Entry]\nName=B\nExec=b %u\n[Desktop Action new]\n"
                                 "Exec=b --new %u\n"),
              "b %u");
    EXPECT_EQ(XdgShell::ExecLine("[Desktop Action new]\nExec=b --new\n"), std::nullopt);
}

TEST(XdgShellTest, OpenErrorTexts) {
    struct Case {
        int code;
        std::string text;
    };
    for (const Case& c : {
             Case{0, "The operating system is out\nof memory or resources."},
             Case{2, "The specified file was not found."},
             Case{26, "A sharing violation occurred. "},
             Case{31, "There is no application associated\nwith the given filename extension."},
             Case{32, "The specified dynamic-link library was not found."},
             Case{99, "Unknown Error (99) occurred."},
             Case{-1, "Unknown Error (-1) occurred."},
         }) {
        EXPECT_EQ(web::OpenErrorText(c.code), "Unable to open hyperlink:\n\n" + c.text);
    }
}

// Stand-in programs in a folder that is the whole PATH.
class XdgShellProgramsTest : public ::testing::Test {
protected:
    std::string Dir() const { return dir.path().toStdString(); }

    void Script(const std::string& name, const std::string& body) {
        const std::string path = Dir() + "/bin/" + name;
        std::filesystem::create_directories(Dir() + "/bin");
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
    }
    void DesktopEntry(const std::string& id, const std::string& exec) {
        std::filesystem::create_directories(Dir() + "/share/applications");
        std::ofstream(Dir() + "/share/applications/" + id)
            << "[Desktop Entry]\nType=Application\nName=Browser\nExec=" << exec << "\n";
    }
    XdgShell Shell() const { return XdgShell({Dir() + "/bin", {Dir() + "/share"}}); }
    // What a stand-in browser wrote, once it has written it.
    std::string WaitForFile(const std::string& name) const {
        for (int i = 0; i < 300; ++i) {
            std::ifstream in(Dir() + "/" + name);
            std::string text((std::istreambuf_iterator<char>(in)), {});
            if (!text.empty() && text.back() == '\n')
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    QTemporaryDir dir;
};

TEST_F(XdgShellProgramsTest, XdgOpenThatSucceedsOpensTheAddress) {
    Script("xdg-open", "printf '%s\\n' \"$1\" > " + Dir() + "/opened");
    EXPECT_EQ(Shell().OpenBlocking("http://www.tunestead.example"), platform::shell::kOpened);
    EXPECT_EQ(WaitForFile("opened"), "http://www.tunestead.example\n");
}

TEST_F(XdgShellProgramsTest, WhenXdgOpenFailsTheDefaultHtmlHandlerRuns) {
    Script("xdg-open", "exit 3");
    Script("xdg-mime", "[ \"$*\" = 'query default text/html' ] && echo browser.desktop");
    Script("browser", "for a in \"$@\"; do printf '[%s]' \"$a\"; done > " + Dir() +
                          "/args; echo >> " + Dir() + "/args");
    DesktopEntry("browser.desktop", "browser --new-tab \"%u\"");
    EXPECT_EQ(Shell().OpenBlocking("http://h/a b"), platform::shell::kOpened);
    EXPECT_EQ(WaitForFile("args"), "[--new-tab][http://h/a b]\n");
}

TEST_F(XdgShellProgramsTest, FailuresGiveTheShellsCodes) {
    struct Case {
        const char* name;
        std::string opener;  // empty: no xdg-open at all
        std::string mime;
        std::string exec;
        int code;
    };
    for (const Case& c : {
             Case{"nothing installed", "", "", "", platform::shell::kNoAssociation},
             Case{"no handler, no fallback", "exit 3", "", "", platform::shell::kNoAssociation},
             Case{"handler failed", "exit 4", "", "", platform::shell::kAssociationIncomplete},
             Case{"fallback program missing", "exit 3", "echo gone.desktop", "gone %u",
                  platform::shell::kFileNotFound},
         }) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Dir() + "/bin");
        std::filesystem::remove_all(Dir() + "/share");
        std::filesystem::create_directories(Dir() + "/bin");
        if (!c.opener.empty())
            Script("xdg-open", c.opener);
        if (!c.mime.empty())
            Script("xdg-mime", c.mime);
        if (!c.exec.empty())
            DesktopEntry("gone.desktop", c.exec);
        EXPECT_EQ(Shell().OpenBlocking("http://www.tunestead.example"), c.code);
    }
}

}  // namespace
