#include "tests/web/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

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

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 8);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
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
