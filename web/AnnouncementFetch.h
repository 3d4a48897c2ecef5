#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/http/HttpCancel.h"
#include "web/CAnnouncement.h"

class QObject;

namespace web {

// Runs one announcement fetch on a thread of its own, so that the window never waits for the
// network, and hands its outcome to the thread of a receiving object (the GUI thread).
// Destroying it ends the fetch at once and drops whatever has not been delivered yet.
// Made and destroyed on the receiver's thread.
class AnnouncementFetch {
public:
    // Called once on the receiver's thread with the text, empty when there is none.
    using Arrived = std::function<void(const std::string& text)>;

    // Starts the fetch. `announcement` and `receiver` must outlive this object; `show` tells
    // the fetch's failures, on the receiver's thread.
    AnnouncementFetch(const CAnnouncement& announcement, QObject& receiver, Arrived arrived,
                      CAnnouncement::ShowMessage show);
    ~AnnouncementFetch();
    AnnouncementFetch(const AnnouncementFetch&) = delete;
    AnnouncementFetch& operator=(const AnnouncementFetch&) = delete;

private:
    // Read and written on the receiver's thread only: deliveries still queued when this
    // object goes find it closed.
    struct Delivery {
        bool open = true;
        Arrived arrived;
        CAnnouncement::ShowMessage show;
    };

    // Queues `call` to the receiver's thread, to run only while this object exists.
    void Post(std::function<void(Delivery&)> call) const;

    std::shared_ptr<Delivery> m_delivery;
    QObject& m_receiver;
    platform::http::HttpCancel m_cancel;
    std::thread m_thread;
};

}  // namespace web
