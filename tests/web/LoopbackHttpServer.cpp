#include "tests/web/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace tests::web {

bool LoopbackHttpServer::Connection::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

void LoopbackHttpServer::Connection::Wait(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping_ && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool LoopbackHttpServer::Connection::WaitForClose(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[256];
    while (!stopping_ && std::chrono::steady_clock::now() < end) {
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, 10) <= 0)
            continue;
        if (recv(fd_, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler, const std::string& address, int port)
    : handler_(std::move(handler)), address_(address) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    listening_ = bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                 listen(listener_, 8) == 0;
    socklen_t length = sizeof at;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length);
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::vector<std::string> LoopbackHttpServer::RequestHeads() const {
    const std::lock_guard lock(mutex_);
    return heads_;
}

std::string LoopbackHttpServer::Response(int status, std::string_view body,
                                         std::string_view extraHeaders) {
    std::string response = "HTTP/1.0 " + std::to_string(status) + " Status\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += extraHeaders;
    response += "\r\n";
    response += body;
    return response;
}

void LoopbackHttpServer::Run() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0)
            continue;
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Connection connection(fd, stopping_);
        char buffer[1024];
        while (connection.head_.find("\r\n\r\n") == std::string::npos && !stopping_) {
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 20) <= 0)
                continue;
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            connection.head_.append(buffer, std::size_t(n));
        }
        {
            const std::lock_guard lock(mutex_);
            heads_.push_back(connection.head_);
        }
        if (!stopping_)
            handler_(connection);
        shutdown(fd, SHUT_RDWR);
        close(fd);
    }
}

}  // namespace tests::web
