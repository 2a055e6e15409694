#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace quarn::test {

// One connection on 127.0.0.1: records the request head, answers canned bytes (in pieces of
// `fragment` bytes when not 0) and closes, unless told to hold the connection open. Every wait
// is bounded and the destructor joins the thread.
class OneShotServer {
public:
    struct Options {
        std::string answer;
        size_t fragment = 0;
        bool holdOpen = false;
        bool closeBeforeReading = false;
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
            while (options_.holdOpen && !stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        close(connection);
    }

    Options options_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    std::string request_;
};

} // namespace quarn::test
