#include "platform/http/CurlHttpClient.h"

#include <curl/curl.h>

#include <memory>
#include <optional>

#include "platform/http/HttpCancel.h"
#include "platform/log/DebugOutput.h"

namespace platform::http {

namespace {

struct FirstPiece {
    std::size_t maxBytes;
    HttpGetResult* result;
    bool received = false;
};

// Keeps the first piece of the body and ends the transfer there.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* piece = static_cast<FirstPiece*>(user);
    const std::size_t length = size * count;
    if (piece->received)
        return 0;
    piece->received = true;
    piece->result->pieceSize = length;
    piece->result->firstPiece.assign(data, std::min(length, piece->maxBytes));
    return 0;  // stop: nothing after the first piece is read
}

HttpError SendError(CURLcode code) {
    switch (code) {
        case CURLE_URL_MALFORMAT:
            return HttpError::Connect;
        case CURLE_OUT_OF_MEMORY:
            return HttpError::Request;
        default:
            return HttpError::Send;
    }
}

bool ValidHost(const std::string& host) {
    if (host.empty())
        return false;
    for (const char c : host) {
        if (c <= ' ' || c == '@' || c == '?' || c == '#' || c == '\\' || c == 0x7F)
            return false;
    }
    return true;
}

// Runs the transfer on a multi handle so that a cancel wakes the wait at once; the easy
// handle's own timeouts bound it otherwise. The code of the finished transfer, or nothing when
// it was cancelled.
std::optional<CURLcode> Perform(CURL* easy, const HttpCancel* cancel) {
    const std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(),
                                                                      &curl_multi_cleanup);
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    std::optional<CURLcode> code;
    for (int running = 1; !code;) {
        if (cancel != nullptr && cancel->Cancelled())
            break;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE)
                code = message->data.result;
        }
        if (code || running == 0)
            break;
        curl_waitfd wake{cancel != nullptr ? cancel->WakeDescriptor() : -1, CURL_WAIT_POLLIN, 0};
        const bool canWake = wake.fd >= 0;
        // Without a descriptor to wake on, look at the flag every 50 ms.
        curl_multi_poll(multi.get(), canWake ? &wake : nullptr, canWake ? 1 : 0,
                        canWake || cancel == nullptr ? 1000 : 50, nullptr);
    }
    curl_multi_remove_handle(multi.get(), easy);
    return code;
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlHttpClient::~CurlHttpClient() {
    curl_global_cleanup();
}

HttpGetResult CurlHttpClient::GetFirstPiece(const HttpGetRequest& request) {
    HttpGetResult result;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!curl) {
        result.error = HttpError::Session;
        return result;
    }
    if (!ValidHost(request.host)) {
        OutputDebugString("http: not a host: '" + request.host + "'");
        result.error = HttpError::Connect;
        return result;
    }
    const std::string url =
        "http://" + request.host + (request.path.empty() ? std::string("/") : request.path);
    FirstPiece piece{request.maxBytes, &result};
    // No accept types: an empty "Accept:" takes out the header libcurl would add.
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Accept:"), &curl_slist_free_all);
    CURL* h = curl.get();
    const bool prepared =
        headers != nullptr && curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0)) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_USERAGENT, request.agent.c_str()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // A cancelled name look-up is left to finish on its own thread, not waited for.
        curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(request.timeout.count())) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(request.timeout.count())) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &piece) == CURLE_OK;
    if (!prepared) {
        result.error = HttpError::Request;
        return result;
    }
    const std::optional<CURLcode> code = Perform(h, request.cancel);
    if (!code) {
        OutputDebugString("http: GET " + url + ": cancelled");
        return HttpGetResult{HttpError::Cancelled, 0, {}, 0};
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    result.status = int(status);
    // Ending the transfer after the first piece is how a read of it succeeds.
    if (*code == CURLE_OK || (*code == CURLE_WRITE_ERROR && piece.received))
        return result;
    OutputDebugString("http: GET " + url + ": " + curl_easy_strerror(*code));
    result.error = SendError(*code);
    result.firstPiece.clear();
    result.pieceSize = 0;
    return result;
}

}  // namespace platform::http
