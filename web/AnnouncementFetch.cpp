#include "web/AnnouncementFetch.h"

#include <QMetaObject>
#include <QObject>

namespace web {

AnnouncementFetch::AnnouncementFetch(const CAnnouncement& announcement, QObject& receiver,
                                     Arrived arrived, CAnnouncement::ShowMessage show)
    : m_delivery(std::make_shared<Delivery>(Delivery{true, std::move(arrived), std::move(show)})),
      m_receiver(receiver) {
    m_thread = std::thread([this, &announcement] {
        const std::string text = announcement.Fetch(
            [this](std::string_view message) {
                Post([text = std::string(message)](Delivery& d) {
                    if (d.show)
                        d.show(text);
                });
            },
            &m_cancel);
        Post([text](Delivery& d) {
            if (d.arrived)
                d.arrived(text);
        });
    });
}

AnnouncementFetch::~AnnouncementFetch() {
    m_delivery->open = false;
    m_cancel.Cancel();
    m_thread.join();
}

void AnnouncementFetch::Post(std::function<void(Delivery&)> call) const {
    // The receiver outlives this object and the thread is joined before it goes, so it is
    // still there; the queued call is dropped with it if it goes first.
    QMetaObject::invokeMethod(
        &m_receiver,
        [delivery = m_delivery, call = std::move(call)] {
            if (delivery->open)
                call(*delivery);
        },
        Qt::QueuedConnection);
}

}  // namespace web
