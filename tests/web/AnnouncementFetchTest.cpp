// The announcement fetched off the GUI thread: the text arrives there later, closing ends a
// fetch that is still waiting, and nothing reaches the receiver once the fetch is gone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/CurlHttpClient.h"
#include "platform/http/fake/FakeHttpClient.h"
#include "tests/web/LoopbackHttpServer.h"
#include "web/AnnouncementFetch.h"
#include "web/CAnnouncement.h"

namespace {

using platform::http::HttpError;
using tests::web::LoopbackHttpServer;
using Connection = LoopbackHttpServer::Connection;

// The real client, keeping how each GET ended.
class RecordingClient final : public platform::http::IHttpClient {
public:
    platform::http::HttpGetResult GetFirstPiece(
        const platform::http::HttpGetRequest& request) override {
        platform::http::HttpGetResult result = curl_.GetFirstPiece(request);
        const std::lock_guard lock(mutex_);
        errors_.push_back(result.error);
        return result;
    }
    std::vector<HttpError> Errors() const {
        const std::lock_guard lock(mutex_);
        return errors_;
    }

private:
    platform::http::CurlHttpClient curl_;
    mutable std::mutex mutex_;
    std::vector<HttpError> errors_;
};

// What reached the receiver, and on which thread.
struct Received {
    std::optional<std::string> text;
    std::vector<std::string> boxes;
    std::vector<QThread*> threads;

    web::AnnouncementFetch::Arrived Arrived() {
        return [this](const std::string& t) {
            text = t;
            threads.push_back(QThread::currentThread());
        };
    }
    web::CAnnouncement::ShowMessage Boxes() {
        return [this](std::string_view box) {
            boxes.emplace_back(box);
            threads.push_back(QThread::currentThread());
        };
    }
};

void DeliverQueued() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

TEST(AnnouncementFetchTest, TheTextArrivesOnTheGuiThreadAfterTheCallerHasGoneOn) {
    // The server holds its answer until the fetch's constructor has returned: a fetch on the
    // caller's thread would wait for it until its time ran out and bring nothing.
    std::atomic<bool> constructed{false};
    LoopbackHttpServer server([&](Connection& c) {
        for (int i = 0; i < 1000 && !constructed; ++i)
            c.Wait(10);
        c.Write(LoopbackHttpServer::Response(200, "\xBD\xCC\xC4\xE3 news"));
    });
    RecordingClient client;
    const web::CAnnouncement announcement(client, "http://" + server.Host() + "/PD/a.txt");
    QObject receiver;
    Received received;
    {
        const web::AnnouncementFetch fetch(announcement, receiver, received.Arrived(),
                                           received.Boxes());
        constructed = true;
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.text.has_value(); }, 10000));
    }
    EXPECT_EQ(*received.text, "教你 news");
    EXPECT_TRUE(received.boxes.empty());
    EXPECT_EQ(received.threads, std::vector<QThread*>{QThread::currentThread()});
}

TEST(AnnouncementFetchTest, GoingWhileTheServerIsSilentEndsTheFetchAndDeliversNothing) {
    LoopbackHttpServer server([](Connection& c) { c.Wait(60000); });
    RecordingClient client;
    const web::CAnnouncement announcement(client, "http://" + server.Host() + "/PD/a.txt");
    QObject receiver;
    Received received;
    {
        const web::AnnouncementFetch fetch(announcement, receiver, received.Arrived(),
                                           received.Boxes());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.RequestHeads().empty(); }, 10000));
    }
    // Ended by the cancel, not by the 3 s limit.
    EXPECT_EQ(client.Errors(), std::vector<HttpError>{HttpError::Cancelled});
    DeliverQueued();
    EXPECT_FALSE(received.text.has_value());
}

TEST(AnnouncementFetchTest, FailuresAreToldOnTheGuiThreadAndNothingQueuedOutlivesTheFetch) {
    for (const bool goneFirst : {false, true}) {
        SCOPED_TRACE(goneFirst ? "fetch gone before delivery" : "fetch alive");
        platform::http::fake::FakeHttpClient client({HttpError::Connect, 0, {}, 0});
        const web::CAnnouncement announcement(client, "http://h/x");
        QObject receiver;
        Received received;
        auto fetch = std::make_unique<web::AnnouncementFetch>(announcement, receiver,
                                                              received.Arrived(), received.Boxes());
        if (goneFirst) {
            fetch.reset();  // the box and the outcome are queued by now
            DeliverQueued();
            EXPECT_FALSE(received.text.has_value());
            EXPECT_TRUE(received.boxes.empty());
            continue;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.text.has_value(); }, 10000));
        EXPECT_EQ(*received.text, "");
        EXPECT_EQ(received.boxes,
                  std::vector<std::string>{std::string(web::CAnnouncement::kConnectFailed)});
        EXPECT_EQ(received.threads, std::vector<QThread*>(2, QThread::currentThread()));
    }
}

}  // namespace
