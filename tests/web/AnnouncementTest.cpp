// The announcement fetched from a real HTTP server on loopback through libcurl, and GBK text.

#include <gtest/gtest.h>

#include <QString>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlHttpClient.h"
#include "platform/http/HttpCancel.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "tests/web/LoopbackHttpServer.h"
#include "web/CAnnouncement.h"
#include "web/GbkText.h"

namespace {

using tests::web::LoopbackHttpServer;
using Connection = LoopbackHttpServer::Connection;

// "键乐坊" in GBK.
const std::string kGbkName = "\xBC\xFC\xC0\xD6\xB7\xBB";

class AnnouncementTest : public ::testing::Test {
protected:
    // Fetches from a server answering with `handler`; the boxes shown go to `boxes`.
    std::string FetchFrom(LoopbackHttpServer::Handler handler, std::string path = "/PD/a.txt") {
        server = std::make_unique<LoopbackHttpServer>(std::move(handler));
        return announcement.FetchUrlText("http://" + server->Host() + path, Boxes());
    }
    web::CAnnouncement::ShowMessage Boxes() {
        return [this](std::string_view text) { boxes.emplace_back(text); };
    }

    platform::http::CurlHttpClient client;
    web::CAnnouncement announcement{client, ""};
    std::unique_ptr<LoopbackHttpServer> server;
    std::vector<std::string> boxes;
};

TEST_F(AnnouncementTest, SendsOneHttp10GetWithTheAgent) {
    const std::string text =
        FetchFrom([](Connection& c) { c.Write(LoopbackHttpServer::Response(200, "hello")); },
                  "/PD/TONEBENCH/AdWords.txt");
    EXPECT_EQ(text, "hello");
    const std::vector<std::string> heads = server->RequestHeads();
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0].rfind("GET /PD/TONEBENCH/AdWords.txt HTTP/1.0\r\n", 0), 0u) << heads[0];
    EXPECT_NE(heads[0].find("User-Agent: Fenwick Dray\r\n"), std::string::npos) << heads[0];
    // No accept types.
    const QString head = QString::fromStdString(heads[0]);
    EXPECT_FALSE(head.contains(QStringLiteral("\r\nAccept:"), Qt::CaseInsensitive)) << heads[0];
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AnnouncementTest, BodiesAreCutAndBoundedAsTheyArrive) {
    const std::string hundred(100, 'a');
    struct Case {
        const char* name;
        LoopbackHttpServer::Handler handler;
        std::string text;
    };
    const std::vector<Case> cases{
        {"100 bytes are shown whole",
         [&](Connection& c) { c.Write(LoopbackHttpServer::Response(200, hundred)); }, hundred},
        {"101 bytes are too many",
         [&](Connection& c) { c.Write(LoopbackHttpServer::Response(200, hundred + "b")); }, ""},
        {"a zero at byte 10 ends the text",
         [](Connection& c) {
             c.Write(LoopbackHttpServer::Response(200, std::string("0123456789\0tail", 15)));
         },
         "0123456789"},
        {"only the first piece counts",
         [](Connection& c) {
             c.Write("HTTP/1.0 200 OK\r\n\r\nfirst");
             c.Wait(300);
             c.Write(" second");
         },
         "first"},
        {"a 10 MB body is too long",
         [](Connection& c) {
             c.Write(LoopbackHttpServer::Response(200, std::string(10 * 1024 * 1024, 'x')));
         },
         ""},
        {"an error page is no announcement",
         [](Connection& c) { c.Write(LoopbackHttpServer::Response(404, "Not Found")); }, ""},
        {"a 304 is no announcement",
         [](Connection& c) { c.Write(LoopbackHttpServer::Response(304, "cached")); }, ""},
        {"a 302 without Location is no announcement",
         [](Connection& c) { c.Write(LoopbackHttpServer::Response(302, "moved")); }, ""},
        {"an informational answer alone is no announcement",
         [](Connection& c) { c.Write("HTTP/1.0 100 Continue\r\n\r\n"); }, ""},
        {"an empty body", [](Connection& c) { c.Write(LoopbackHttpServer::Response(200, "")); },
         ""},
        {"GBK text", [](Connection& c) { c.Write(LoopbackHttpServer::Response(200, kGbkName)); },
         "键乐坊"},
        {"a closed connection",
         [](Connection& c) { c.Write("HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n"); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FetchFrom(c.handler), c.text);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AnnouncementTest, ARedirectIsFollowedToTheText) {
    LoopbackHttpServer target(
        [](Connection& c) { c.Write(LoopbackHttpServer::Response(200, "moved text")); });
    const std::string location = "Location: http://" + target.Host() + "/new.txt\r\n";
    EXPECT_EQ(FetchFrom([&](Connection& c) {
                  c.Write(LoopbackHttpServer::Response(302, "<html>302 Found</html>", location));
              }),
              "moved text");
}

TEST_F(AnnouncementTest, AServerThatNeverAnswersGivesNothing) {
    // Bounded by the 3 s limit of the whole exchange.
    EXPECT_EQ(FetchFrom([](Connection& c) { c.Wait(10000); }), "");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AnnouncementTest, ACancelEndsAGetThatIsStillWaiting) {
    // The server takes the request and never answers; only the cancel can end the GET before
    // its (long) timeout.
    server = std::make_unique<LoopbackHttpServer>([](Connection& c) { c.Wait(60000); });
    platform::http::HttpCancel cancel;
    std::thread canceller([&] {
        while (server->RequestHeads().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel.Cancel();
    });
    platform::http::HttpGetRequest request;
    request.host = server->Host();
    request.path = "/a";
    request.maxBytes = 101;
    request.timeout = std::chrono::minutes(2);
    request.cancel = &cancel;
    const platform::http::HttpGetResult result = client.GetFirstPiece(request);
    canceller.join();
    EXPECT_EQ(result.error, platform::http::HttpError::Cancelled);
    EXPECT_TRUE(result.firstPiece.empty());
}

TEST_F(AnnouncementTest, NoServerGivesNothingWithoutABox) {
    int port = 0;
    {
        LoopbackHttpServer closed([](Connection&) {});
        port = closed.Port();
    }
    EXPECT_EQ(announcement.FetchUrlText("http://127.0.0.1:" + std::to_string(port) + "/a", Boxes()),
              "");
    EXPECT_TRUE(boxes.empty());
}

// How addresses are split, and which failures tell the user, over the scripted client.
TEST(AnnouncementAddressTest, AddressesSplitIntoHostAndPath) {
    struct Case {
        std::string address, host, path;
    };
    for (const Case& c : {Case{"http://h/x", "h", "/x"}, Case{"HTTP://h/x", "h", "/x"},
                          Case{"hostname", "hostname", ""}, Case{"ftp://h/x", "ftp:", "//h/x"},
                          Case{"http://h", "h", ""}}) {
        SCOPED_TRACE(c.address);
        platform::http::fake::FakeHttpClient client({{}, 200, "ok", 2});
        web::CAnnouncement announcement(client, c.address);
        EXPECT_EQ(announcement.Fetch({}), "ok");
        ASSERT_EQ(client.Requests().size(), 1u);
        EXPECT_EQ(client.Requests()[0].host, c.host);
        EXPECT_EQ(client.Requests()[0].path, c.path);
        EXPECT_EQ(client.Requests()[0].agent, "Fenwick Dray");
        EXPECT_EQ(client.Requests()[0].maxBytes, 101u);
        EXPECT_EQ(client.Requests()[0].timeout, std::chrono::milliseconds(3000));
    }
}

TEST(AnnouncementAddressTest, OnlyASuccessStatusIsShown) {
    struct Case {
        int status;
        std::string text;
    };
    for (const Case& c :
         {Case{100, ""}, Case{101, ""}, Case{199, ""}, Case{200, "text"}, Case{299, "text"},
          Case{300, ""}, Case{302, ""}, Case{304, ""}, Case{404, ""}, Case{500, ""}}) {
        SCOPED_TRACE(c.status);
        platform::http::fake::FakeHttpClient client({{}, c.status, "text", 4});
        web::CAnnouncement announcement(client, "http://h/x");
        EXPECT_EQ(announcement.Fetch({}), c.text);
    }
}

TEST(AnnouncementAddressTest, FailuresTellTheUserAsSpecifiedAndGiveNothing) {
    using platform::http::HttpError;
    struct Case {
        std::string address;
        HttpError error;
        std::vector<std::string> boxes;
    };
    for (const Case& c :
         {Case{"", HttpError::None, {"Sorry,It is a invalid address!"}},
          Case{"http:/", HttpError::None, {"Sorry,It is a invalid address!"}},
          Case{"http://h/x", HttpError::Session, {}},
          Case{"http://h/x", HttpError::Connect, {"Internet connect initalization failed!"}},
          Case{"http://h/x", HttpError::Request, {"Http request failed!"}},
          Case{"http://h/x", HttpError::Send, {}}, Case{"http://h/x", HttpError::Cancelled, {}}}) {
        SCOPED_TRACE(c.address + " " + std::to_string(int(c.error)));
        platform::http::fake::FakeHttpClient client({c.error, 200, "text", 4});
        web::CAnnouncement announcement(client, c.address);
        std::vector<std::string> boxes;
        const std::string text =
            announcement.Fetch([&](std::string_view box) { boxes.emplace_back(box); });
        EXPECT_EQ(text, c.error == HttpError::None && c.address.size() >= 7 ? "text" : "");
        EXPECT_EQ(boxes, c.boxes);
    }
}

TEST(GbkTextTest, GbkBecomesUtf8AndBadBytesLeaveTheRestIntact) {
    struct Case {
        std::string bytes, utf8;
    };
    for (const Case& c : {Case{"plain", "plain"}, Case{kGbkName, "键乐坊"},
                          // A character cut in half at the end is dropped.
                          Case{kGbkName + "\xBC", "键乐坊"},
                          // Bytes that are not GBK go; what follows them stays.
                          Case{"\xFF" + kGbkName + "\xFFok", "键乐坊ok"},
                          Case{"a\xFF\xFF\xFF"
                               "b",
                               "ab"},
                          Case{"", ""}}) {
        EXPECT_EQ(web::GbkToUtf8(c.bytes), c.utf8);
    }
}

TEST_F(AnnouncementTest, ACharacterCutAtByte100IsDropped) {
    // 99 ASCII bytes and the first half of a two-byte character, then its second half.
    const std::string body = std::string(99, 'a') + "\xBC";
    EXPECT_EQ(FetchFrom([&](Connection& c) { c.Write(LoopbackHttpServer::Response(200, body)); }),
              std::string(99, 'a'));
}

}  // namespace
