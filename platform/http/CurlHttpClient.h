#pragma once

#include "platform/http/IHttpClient.h"

namespace platform::http {

// IHttpClient on libcurl: HTTP/1.0 with no accept types, the system's proxy settings,
// redirects followed (up to five, HTTP and HTTPS only), no signals, the whole exchange bounded
// by the request's timeout and ended at once by its cancel. Only this folder sees <curl/curl.h>.
class CurlHttpClient final : public IHttpClient {
public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    HttpGetResult GetFirstPiece(const HttpGetRequest& request) override;
};

}  // namespace platform::http
