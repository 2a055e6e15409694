#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace quarn::test {

// One connection on 127.0.0.1: records the request head, answers canned bytes (in pieces of
// `fragment` bytes when not 0) and closes, unless told to hold the connection open. A server
// that never ends its reply sends `repeat` again and again after the answer, `pause` apart,
// until the client goes away or ten seconds pass. Every wait is bounded and the destructor
// joins the thread.
class OneShotServer {
public:
    struct Options {
        std::string answer = "";
        size_t fragment = 0;
        bool holdOpen = false;
        bool closeBeforeReading = false;
        std::string repeat = "";
        std::chrono::milliseconds pause{0};
    };

    explicit OneShotServer(Options options) : options_(std::move(options)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OneShotServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    uint16_t Port() const { return port_; }
    // Valid once the node's call has returned.
    const std::string& Request() const { return request_; }
    bool Accepted() const { return accepted_; }
    // True once the repeats stopped because their ten seconds had passed: a client still
    // reading then had not ended the reply by itself.
    bool RanOut() const { return ranOut_; }

private:
    bool Ready(int socket, short events) {
        for (int i = 0; i < 200 && !stop_; ++i) {
            pollfd entry{socket, events, 0};
            if (poll(&entry, 1, 50) == 1) {
                return true;
            }
        }
        return false;
    }
    void Serve() {
        if (!Ready(listener_, POLLIN)) {
            return;
        }
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        accepted_ = true;
        if (!options_.closeBeforeReading) {
            char buffer[4096];
            while (request_.find("\r\n\r\n") == std::string::npos && Ready(connection, POLLIN)) {
                const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
                if (count <= 0) {
                    break;
                }
                request_.append(buffer, size_t(count));
            }
            const size_t step = options_.fragment ? options_.fragment : options_.answer.size();
            for (size_t at = 0; at < options_.answer.size(); at += step) {
                const size_t count = std::min(step, options_.answer.size() - at);
                if (send(connection, options_.answer.data() + at, count, MSG_NOSIGNAL) < 0) {
                    break;
                }
            }
            if (!options_.repeat.empty()) {
                Repeat(connection);
            }
            while (options_.holdOpen && !stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        close(connection);
    }

    void Repeat(int connection) {
        // A client that stops reading fills the buffers: sends give up after 50 ms and retry.
        const timeval wait{0, 50000};
        setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (size_t at = 0; !stop_;) {
            if (std::chrono::steady_clock::now() > end) {
                ranOut_ = true;
                return;
            }
            const ssize_t sent = send(connection, options_.repeat.data() + at,
                                      options_.repeat.size() - at, MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    return; // the client went away
                }
                continue;
            }
            at += size_t(sent);
            if (at == options_.repeat.size()) {
                at = 0;
                std::this_thread::sleep_for(options_.pause);
            }
        }
    }

    Options options_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> ranOut_{false};
    std::string request_;
};

} // namespace quarn::test
