#pragma once

#include "app/online/HttpClient.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarn::test {

// An HTTP server on 127.0.0.1 for one test: it accepts connections one after another, records
// each request's head, sends canned bytes (in pieces of `fragment` bytes when that is not 0, so
// the client meets replies cut anywhere) and closes. With a certificate and key it speaks TLS.
// Every wait is bounded, and the destructor stops the thread and joins it within ten seconds.
class LoopbackHttpServer {
public:
    struct Options {
        std::string answer = "";
        size_t fragment = 0;
        // Held back this long before answering, so a test can act while an exchange is open.
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds pause{1}; // between fragments: a long one drips the answer
        std::string certificateFile = "";   // TLS when set
        std::string keyFile = "";
        // The first request's connection stays open for the next request, and every request
        // after the first (on it or on another connection) is answered with `laterAnswer`.
        bool keepAlive = false;
        std::string laterAnswer = "";
    };

    explicit LoopbackHttpServer(Options options) : state_(std::make_shared<State>()) {
        state_->options = std::move(options);
        state_->listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (state_->listener < 0 ||
            bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(state_->listener, 16) != 0 ||
            getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "the loopback server cannot listen";
            return;
        }
        port_ = ntohs(address.sin_port);
        if (!state_->options.certificateFile.empty() && !state_->StartTls()) {
            ADD_FAILURE() << "the loopback server cannot load its certificate";
            return;
        }
        finished_ = state_->finished.get_future();
        thread_ = std::thread([state = state_] { state->Serve(); });
    }

    // A plain server answering `answer`.
    explicit LoopbackHttpServer(std::string answer, size_t fragment = 0)
        : LoopbackHttpServer(Options{.answer = std::move(answer), .fragment = fragment}) {}

    ~LoopbackHttpServer() {
        state_->stop = true;
        if (!thread_.joinable()) {
            return;
        }
        if (finished_.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
            thread_.join();
        } else {
            ADD_FAILURE() << "the loopback server did not stop";
            thread_.detach(); // it owns a share of its state
        }
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>/", or https.
    std::string Address() const {
        return (state_->options.certificateFile.empty() ? "http" : "https") +
               std::string("://127.0.0.1:") + std::to_string(port_) + "/";
    }

    // The head of every request so far, up to its blank line.
    std::vector<std::string> Requests() const {
        std::lock_guard lock(state_->mutex);
        return state_->requests;
    }
    // Waits at most `limit` for `count` requests.
    bool WaitForRequests(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Requests().size() < count) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // An HTTP/1.1 200 answer carrying `body`.
    static std::string Answer(const std::string& body, const std::string& status = "200 OK") {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    // Shared with the thread, so that a thread that would not stop never outlives it.
    struct State {
        Options options;
        int listener = -1;
        SSL_CTX* tls = nullptr;
        std::atomic<bool> stop{false};
        std::mutex mutex;
        std::vector<std::string> requests;
        std::promise<void> finished;

        ~State() {
            if (listener >= 0) {
                close(listener);
            }
            if (tls) {
                SSL_CTX_free(tls);
            }
        }

        bool StartTls() {
            tls = SSL_CTX_new(TLS_server_method());
            return tls &&
                   SSL_CTX_use_certificate_file(tls, options.certificateFile.c_str(),
                                                SSL_FILETYPE_PEM) == 1 &&
                   SSL_CTX_use_PrivateKey_file(tls, options.keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
        }

        // Waits up to 50 ms for `events` on `socket`.
        static bool Ready(int socket, short events) {
            pollfd entry{socket, events, 0};
            return poll(&entry, 1, 50) > 0;
        }

        void Serve() {
            while (!stop) {
                if (!Ready(listener, POLLIN)) {
                    continue;
                }
                const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection >= 0) {
                    timeval wait{0, 50000}; // reads and writes give up after 50 ms, then retry
                    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
                    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
                    Converse(connection);
                    close(connection);
                }
            }
            finished.set_value();
        }

        void Converse(int connection) {
            SSL* session = nullptr;
            if (tls) {
                session = SSL_new(tls);
                SSL_set_fd(session, connection);
                if (!Handshake(session)) {
                    SSL_free(session);
                    return;
                }
            }
            for (bool first = true;; first = false) {
                std::string head;
                char buffer[4096];
                // A head is short; a client that sends more or nothing for ten seconds is
                // dropped.
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!stop && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
                       std::chrono::steady_clock::now() < end) {
                    const long got = session ? SSL_read(session, buffer, sizeof buffer)
                                             : recv(connection, buffer, sizeof buffer, 0);
                    if (got > 0) {
                        head.append(buffer, got);
                    } else if (got == 0 || (!session && errno != EAGAIN && errno != EINTR)) {
                        break;
                    }
                }
                if (!first && head.empty()) {
                    break; // the client closed a connection kept open
                }
                bool later = false;
                {
                    std::lock_guard lock(mutex);
                    later = options.keepAlive && !requests.empty();
                    requests.push_back(head.substr(0, head.find("\r\n\r\n")));
                }
                const auto answerAt = std::chrono::steady_clock::now() + options.delay;
                while (!stop && std::chrono::steady_clock::now() < answerAt) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                Send(connection, session, later ? options.laterAnswer : options.answer);
                if (!options.keepAlive || later) {
                    break;
                }
            }
            if (session) {
                SSL_shutdown(session);
                SSL_free(session);
            }
        }

        bool Handshake(SSL* session) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!stop && std::chrono::steady_clock::now() < end) {
                const int result = SSL_accept(session);
                if (result == 1) {
                    return true;
                }
                const int error = SSL_get_error(session, result);
                if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE &&
                    !(error == SSL_ERROR_SYSCALL && errno == EAGAIN)) {
                    ERR_clear_error();
                    return false; // the client refused the certificate
                }
            }
            return false;
        }

        void Send(int connection, SSL* session, const std::string& answer) {
            const size_t piece = options.fragment ? options.fragment : answer.size();
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            size_t sent = 0;
            while (!stop && sent < answer.size() && std::chrono::steady_clock::now() < end) {
                const size_t size = std::min(piece, answer.size() - sent);
                const long put =
                    session ? SSL_write(session, answer.data() + sent, static_cast<int>(size))
                            : send(connection, answer.data() + sent, size, MSG_NOSIGNAL);
                if (put > 0) {
                    sent += put;
                    if (options.fragment) {
                        std::this_thread::sleep_for(options.pause);
                    }
                } else if (session || (errno != EAGAIN && errno != EINTR)) {
                    return; // the client went away
                }
            }
        }
    };

    std::shared_ptr<State> state_;
    uint16_t port_ = 0;
    std::future<void> finished_;
    std::thread thread_;
};

// Calls `poll` once a frame, as a game polls an exchange, until it answers true: false when a
// minute of frames passes first (a 16 MiB reply takes seconds in a sanitized build).
template <class Poll>
bool PollFrames(Poll&& poll) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!poll()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Shortens the time-out of every exchange started while it exists.
class ShortHttpTimeout {
public:
    explicit ShortHttpTimeout(std::chrono::milliseconds timeout) { SetHttpTimeout(timeout); }
    ~ShortHttpTimeout() { SetHttpTimeout(DefaultHttpTimeout); }
    ShortHttpTimeout(const ShortHttpTimeout&) = delete;
    ShortHttpTimeout& operator=(const ShortHttpTimeout&) = delete;
};

// The path and query of a recorded request, without the leading '/'.
inline std::string RequestTarget(const std::string& request) {
    const size_t start = request.find(" /");
    if (start == std::string::npos) {
        return "";
    }
    return request.substr(start + 2, request.find(' ', start + 2) - start - 2);
}

} // namespace quarn::test
