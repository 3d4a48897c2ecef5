#pragma once

// A tiny HTTP server on a loopback address for tests: one connection at a time, each answered
// by the test's own handler, which writes raw bytes. Keeps every request's head.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tests::web {

class LoopbackHttpServer {
public:
    // The connection, for writing; the waits end early when the server is stopping.
    class Connection {
    public:
        Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
        bool Write(std::string_view bytes);
        void Wait(int milliseconds);
        // Waits until the client closes its end; false when it did not within the time or the
        // server is stopping.
        bool WaitForClose(int milliseconds);
        const std::string& RequestHead() const { return head_; }

    private:
        friend class LoopbackHttpServer;
        int fd_;
        const std::atomic<bool>& stopping_;
        std::string head_;
    };
    using Handler = std::function<void(Connection&)>;

    // Listens on `address`:`port`, by default on a free port of 127.0.0.1.
    explicit LoopbackHttpServer(Handler handler, const std::string& address = "127.0.0.1",
                                int port = 0);
    ~LoopbackHttpServer();

    // False when the address could not be taken.
    bool Listening() const { return listening_; }
    int Port() const { return port_; }
    std::string Host() const { return address_ + ":" + std::to_string(port_); }
    std::vector<std::string> RequestHeads() const;

    // A complete HTTP/1.0 answer with a body.
    static std::string Response(int status, std::string_view body,
                                std::string_view extraHeaders = {});

private:
    void Run();

    Handler handler_;
    int listener_ = -1;
    std::string address_;
    int port_ = 0;
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
    std::thread thread_;
};

}  // namespace tests::web
