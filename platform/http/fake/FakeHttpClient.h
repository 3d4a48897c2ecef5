#pragma once

#include <vector>

#include "platform/http/IHttpClient.h"

namespace platform::http::fake {

// Answers every GET with a scripted result and keeps the requests; never touches a network.
class FakeHttpClient final : public IHttpClient {
public:
    explicit FakeHttpClient(HttpGetResult answer = {HttpError::Send, 0, {}, 0})
        : answer_(std::move(answer)) {}

    void SetAnswer(HttpGetResult answer) { answer_ = std::move(answer); }
    const std::vector<HttpGetRequest>& Requests() const { return requests_; }

    HttpGetResult GetFirstPiece(const HttpGetRequest& request) override {
        requests_.push_back(request);
        HttpGetResult answer = answer_;
        if (answer.firstPiece.size() > request.maxBytes)
            answer.firstPiece.resize(request.maxBytes);
        return answer;
    }

private:
    HttpGetResult answer_;
    std::vector<HttpGetRequest> requests_;
};

}  // namespace platform::http::fake
