// The real program against a server at the maker's address: the window is up while the
// announcement is still on its way, and markup sent as the announcement is neither followed
// nor rendered (the program stays alive and small and closes normally).

#include <unistd.h>

#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>

#include "tests/e2e/Player.h"
#include "tests/web/LoopbackHttpServer.h"

namespace {

using tests::web::LoopbackHttpServer;
using Connection = LoopbackHttpServer::Connection;

// A loopback address of this run for the maker's site.
std::string SiteAddress() {
    return "127.79." + std::to_string(getpid() % 250) + ".1";
}

// Resident size of a process in KiB, or -1 once it is gone.
long ResidentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Polls `done` every 10 ms for at most `ms`.
bool WaitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

class AnnouncementE2ETest : public e2e::SiteTest {};

TEST_F(AnnouncementE2ETest, TheWindowIsUpWhileASilentServerStillHoldsTheRequest) {
    std::atomic<bool> clientGaveUp{false};
    LoopbackHttpServer server(
        [&](Connection& c) {
            if (c.WaitForClose(60000))
                clientGaveUp = true;
        },
        SiteAddress(), 80);
    ASSERT_TRUE(server.Listening()) << "port 80 of " << SiteAddress();
    e2e::Player player(SiteAddress());
    ASSERT_TRUE(player.Started());
    ASSERT_FALSE(player.WaitForWindow().isEmpty()) << "the main window did not appear";
    // Mapped before the fetch has given up on the server.
    EXPECT_FALSE(clientGaveUp);
    EXPECT_TRUE(WaitFor([&] { return !server.RequestHeads().empty(); }, 10000))
        << "the announcement was never asked for";
    player.Close();
    ASSERT_TRUE(player.Process().waitForFinished(10000));
    EXPECT_EQ(player.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.Process().exitCode(), 0);
}

TEST_F(AnnouncementE2ETest, MarkupAsTheAnnouncementLeavesTheProgramAliveAndSmall) {
    // Read as rich text, this makes the label load /dev/zero: gigabytes a second, then abort.
    LoopbackHttpServer server(
        [](Connection& c) {
            c.Write(LoopbackHttpServer::Response(200, "<img src=\"/dev/zero\">"));
        },
        SiteAddress(), 80);
    ASSERT_TRUE(server.Listening()) << "port 80 of " << SiteAddress();
    e2e::Player player(SiteAddress());
    ASSERT_TRUE(player.Started());
    ASSERT_FALSE(player.WaitForWindow().isEmpty()) << "the main window did not appear";
    ASSERT_TRUE(WaitFor([&] { return !server.RequestHeads().empty(); }, 10000));
    // Two seconds of watching after the answer left: the label has long shown it by then.
    long largest = 0;
    for (int i = 0; i < 20; ++i) {
        QThread::msleep(100);
        const long resident = ResidentKiB(player.Process().processId());
        ASSERT_GT(resident, 0) << "the program ended";
        largest = std::max(largest, resident);
    }
    EXPECT_LT(largest, 300 * 1024) << "resident KiB";
    player.Close();
    ASSERT_TRUE(player.Process().waitForFinished(10000));
    EXPECT_EQ(player.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.Process().exitCode(), 0);
}

}  // namespace
