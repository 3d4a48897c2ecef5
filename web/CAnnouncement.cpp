#include "web/CAnnouncement.h"

#include <algorithm>
#include <cctype>

#include "platform/log/DebugOutput.h"
#include "web/GbkText.h"

namespace web {

using platform::http::HttpError;

CAnnouncement::CAnnouncement(platform::http::IHttpClient& client, std::string address)
    : m_client(client), m_address(std::move(address)) {}

std::string CAnnouncement::FetchUrlText(std::string_view address, const ShowMessage& show,
                                        const platform::http::HttpCancel* cancel) const {
    auto tell = [&show](std::string_view text) {
        if (show)
            show(text);
    };
    // 1. Shorter than "http://".
    if (address.size() < 7) {
        tell(kInvalidAddress);
        return {};
    }
    // 2-3. Scheme (any case), host up to the first "/", path from it.
    constexpr std::string_view kScheme = "http://";
    const bool http =
        std::equal(kScheme.begin(), kScheme.end(), address.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    const std::string_view rest = http ? address.substr(kScheme.size()) : address;
    const std::size_t slash = rest.find('/');
    platform::http::HttpGetRequest request;
    request.host = std::string(rest.substr(0, slash));
    request.path =
        slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash));
    request.agent = std::string(kAgent);
    request.maxBytes = kMaxBytes + 1;  // one more than fits, to tell an oversized text
    request.timeout = kTimeout;
    request.cancel = cancel;

    // 4-9. One GET, one read.
    const platform::http::HttpGetResult result = m_client.GetFirstPiece(request);
    switch (result.error) {
        case HttpError::None:
            break;
        case HttpError::Connect:
            tell(kConnectFailed);
            return {};
        case HttpError::Request:
            tell(kRequestFailed);
            return {};
        case HttpError::Session:
        case HttpError::Send:
        case HttpError::Cancelled:
            return {};
    }
    // An error page is not an announcement, however short.
    if (result.status < 200 || result.status > 299) {
        platform::OutputDebugString("announcement: HTTP status " + std::to_string(result.status));
        return {};
    }
    if (result.pieceSize > kMaxBytes)
        return {};
    const std::string_view bytes(result.firstPiece);
    return GbkToUtf8(bytes.substr(0, bytes.find('\0')));
}

}  // namespace web
