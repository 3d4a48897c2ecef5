#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "platform/http/IHttpClient.h"

namespace web {

// The announcement shown under the piano: a short text fetched once at start-up from the
// maker's site by one HTTP/1.0 GET. The fetch blocks its caller for at most kTimeout, and any
// thread may call it (AnnouncementFetch runs it off the GUI thread).
class CAnnouncement {
public:
    static constexpr std::string_view kAgent = "Fenwick Dray";
    static constexpr std::size_t kMaxBytes = 100;
    static constexpr std::chrono::milliseconds kTimeout{3000};
    static constexpr std::string_view kInvalidAddress = "Sorry,It is a invalid address!";
    static constexpr std::string_view kConnectFailed = "Internet connect initalization failed!";
    static constexpr std::string_view kRequestFailed = "Http request failed!";

    using ShowMessage = std::function<void(std::string_view text)>;

    // `client` must outlive this object. `address` is where the text is fetched from.
    CAnnouncement(platform::http::IHttpClient& client, std::string address);

    const std::string& Address() const { return m_address; }

    // The text at `address` as UTF-8, or empty on any failure: a short address, no answer,
    // an answer that is not a success, a first piece over 100 bytes. The GBK bytes are cut
    // at the first zero byte. Three failures are told through `show`, on the calling thread.
    // Cancelling `cancel` ends the fetch at once with nothing.
    std::string FetchUrlText(std::string_view address, const ShowMessage& show,
                             const platform::http::HttpCancel* cancel = nullptr) const;
    // The same for this announcement's address.
    std::string Fetch(const ShowMessage& show,
                      const platform::http::HttpCancel* cancel = nullptr) const {
        return FetchUrlText(m_address, show, cancel);
    }

private:
    platform::http::IHttpClient& m_client;
    std::string m_address;
};

}  // namespace web
