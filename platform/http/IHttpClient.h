#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace platform::http {

// Which step of a GET failed.
enum class HttpError {
    None,
    Session,    // no client session could be set up
    Connect,    // the host is not one a connection can be set up for
    Request,    // the request could not be prepared
    Send,       // no answer: no network, unknown host, refused, timed out
    Cancelled,  // ended by the caller's HttpCancel before an answer came
};

class HttpCancel;

struct HttpGetRequest {
    std::string host;  // may carry ":port"
    std::string path;  // from the first "/", or empty for the root
    std::string agent;
    // The first piece of the body is kept up to this many bytes; the rest is not read.
    std::size_t maxBytes = 0;
    // The whole exchange, name look-up and redirects included, ends by then.
    std::chrono::milliseconds timeout{0};
    // When set, cancelling it ends the GET at once; it must outlive the call.
    const HttpCancel* cancel = nullptr;
};

struct HttpGetResult {
    HttpError error = HttpError::None;
    int status = 0;             // HTTP status of the final answer
    std::string firstPiece;     // at most maxBytes bytes of the body's first piece
    std::size_t pieceSize = 0;  // how long that first piece really was
};

// One HTTP/1.0 GET that reads only the first piece of the body to arrive.
// Blocking, bounded by the request's timeout and ended early by its cancel; any thread.
class IHttpClient {
public:
    virtual ~IHttpClient() = default;
    virtual HttpGetResult GetFirstPiece(const HttpGetRequest& request) = 0;
};

}  // namespace platform::http
