#include "app/online/HttpRequestAsync.h"

#include "app/online/HttpClient.h"
#include "tests/app/online/LoopbackHttpServer.h"
#include "tests/support/CapturingLogSink.h"

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quarn {
namespace {

using test::LoopbackHttpServer;
using test::PollFrames;

std::string Fetch(const std::string& address, const std::string& pathAndQuery) {
    HttpRequest request{address, pathAndQuery, {}};
    EXPECT_TRUE(PollFrames([&] { return HttpRequestAsync(request); }));
    return request.reply;
}

TEST(HttpRequestAsync, TwoCallsForOneUrlInAFrameShareOneExchange) {
    // The answer is held back, so a loaded machine cannot finish the exchange between the calls.
    LoopbackHttpServer server({.answer = LoopbackHttpServer::Answer("hello"),
                               .delay = std::chrono::milliseconds(300)});
    HttpRequest first{server.Address(), "scores?top=1", {}};
    HttpRequest second = first;
    EXPECT_FALSE(HttpRequestAsync(first));
    EXPECT_FALSE(HttpRequestAsync(second));
    ASSERT_TRUE(PollFrames([&] { return HttpRequestAsync(first); }));
    EXPECT_EQ(first.reply, "hello");
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(test::RequestTarget(server.Requests()[0]), "scores?top=1");
    EXPECT_NE(server.Requests()[0].find("User-Agent: WinHttpClient\r\n"), std::string::npos);
}

TEST(HttpRequestAsync, RepliesArriveWholeAsLatin1Bytes) {
    std::string large(30000, 'x');
    for (size_t i = 0; i < large.size(); i += 97) {
        large[i] = static_cast<char>('a' + i % 26);
    }
    const struct {
        const char* name;
        std::string body;
        size_t fragment;
        std::string reply;
    } cases[] = {
        {"a body past the first buffer, in small pieces", large, 1000, large},
        {"Latin-1 characters written in UTF-8", "caf\xC3\xA9 \xC3\xBF", 3, "caf\xE9 \xFF"},
        {"bytes that are not UTF-8 stay as they are", "caf\xE9 \xFF\x80", 2, "caf\xE9 \xFF\x80"},
        {"one '?' for each character past Latin-1", "\xE2\x82\xAC 5 \xF0\x9F\x98\x80!", 1,
         "? 5 ?!"},
        {"a written replacement character is one character too", "a\xEF\xBF\xBD", 0, "a?"},
        {"zero bytes are kept", std::string("a\0b", 3), 0, std::string("a\0b", 3)},
        {"an empty body", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server(LoopbackHttpServer::Answer(c.body), c.fragment);
        EXPECT_EQ(Fetch(server.Address(), "body"), c.reply);
    }
}

TEST(HttpRequestAsync, AFailedExchangeCompletesWithAnEmptyReply) {
    // A port that was just free: nothing listens there.
    uint16_t port;
    {
        LoopbackHttpServer closed(LoopbackHttpServer::Answer(""));
        port = closed.Port();
    }
    EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(port) + "/", "nothing"), "");
    EXPECT_EQ(Fetch("ftp://127.0.0.1:" + std::to_string(port) + "/", "file"), "");
    EXPECT_EQ(Fetch("", "relative"), "");
}

TEST(HttpRequestAsync, AUrlWithAControlByteIsNeverSent) {
    LoopbackHttpServer server(LoopbackHttpServer::Answer("hello"));
    EXPECT_EQ(Fetch(server.Address(), "a\r\nX-Injected: 1"), "");
    EXPECT_EQ(Fetch(server.Address(), std::string("a\0b", 3)), "");
    EXPECT_EQ(Fetch(server.Address(), "ok"), "hello");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(test::RequestTarget(server.Requests()[0]), "ok");
}

TEST(HttpRequestAsync, TwoHostsServingOnePathEachGiveTheirOwnReply) {
    LoopbackHttpServer north(LoopbackHttpServer::Answer("north"));
    LoopbackHttpServer south(LoopbackHttpServer::Answer("south"));
    HttpRequest fromNorth{north.Address(), "list", {}};
    HttpRequest fromSouth{south.Address(), "list", {}};
    EXPECT_FALSE(HttpRequestAsync(fromNorth));
    ASSERT_TRUE(PollFrames([&] { return HttpRequestAsync(fromSouth); }));
    ASSERT_TRUE(PollFrames([&] { return HttpRequestAsync(fromNorth); }));
    EXPECT_EQ(fromNorth.reply, "north");
    EXPECT_EQ(fromSouth.reply, "south");
}

TEST(HttpRequestAsync, ABodyPastTheCapIsCutThereWithALogLine) {
    test::CapturingLogSink log;
    LoopbackHttpServer server(LoopbackHttpServer::Answer(std::string(MaxHttpBodySize + 4096, 'z')));
    HttpRequest request{server.Address(), "huge", {}};
    ASSERT_TRUE(PollFrames([&] { return HttpRequestAsync(request); }));
    const std::string& reply = request.reply;
    EXPECT_EQ(reply.size(), MaxHttpBodySize);
    EXPECT_EQ(reply.find_first_not_of('z'), std::string::npos);
    EXPECT_EQ(request.status, 200);
    EXPECT_EQ(request.failure, "the body passed 16777216 bytes");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "HTTP reply from " + server.Address() +
                                       "huge passed 16777216 bytes and was cut there");
}

// A socket listening on 127.0.0.1 that accepts only when the test does; -1 when it cannot.
int Listen(int backlog, uint16_t& port) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, backlog) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listener >= 0) {
            close(listener);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return listener;
}

size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& thread :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

TEST(HttpRequestAsync, ManyUrlsWaitForABoundedNumberOfWorkers) {
    test::ShortHttpTimeout timeout(std::chrono::milliseconds(300));
    // Connections are taken into the backlog and never answered: each exchange lasts until
    // its time-out.
    uint16_t port;
    const int listener = Listen(64, port);
    ASSERT_GE(listener, 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

    const size_t threads = ThreadCount();
    std::vector<HttpRequest> requests;
    for (int page = 0; page < 20; ++page) {
        requests.push_back({base, "page" + std::to_string(page), {}});
        EXPECT_FALSE(HttpRequestAsync(requests.back()));
    }
    EXPECT_LE(ThreadCount(), threads + MaxHttpWorkers);
    for (HttpRequest& request : requests) {
        ASSERT_TRUE(PollFrames([&] { return HttpRequestAsync(request); }));
        EXPECT_EQ(request.reply, "");
        EXPECT_EQ(request.status, 0);
        EXPECT_NE(request.failure, "");
    }
    close(listener);
}

// The process ends by exit() (static destructors included) while a worker waits inside libcurl
// for a server that never answers: nothing the worker uses may be torn down under it. The
// server is this process, listening before the fork so that the child starts from one thread.
TEST(HttpRequestAsync, TheProcessEndsCleanlyWhileAnExchangeHangs) {
    uint16_t port;
    const int listener = Listen(1, port);
    ASSERT_GE(listener, 0);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(go[1]);
        HttpRequest request{"http://127.0.0.1:" + std::to_string(port) + "/", "slow", {}};
        const bool answered = HttpRequestAsync(request);
        char byte;
        const bool told = read(go[0], &byte, 1) == 1; // the request has arrived and waits
        std::exit(!answered && told && !HttpRequestAsync(request) ? 0 : 3);
    }
    close(go[0]);
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 20000), 1) << "no request came";
    const int connection = accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    pollfd reading{connection, POLLIN, 0};
    EXPECT_EQ(poll(&reading, 1, 20000), 1);
    EXPECT_EQ(write(go[1], "!", 1), 1);
    close(go[1]);
    int status = 0;
    pid_t ended = 0;
    for (int wait = 0; wait < 2000 && ended == 0; ++wait) {
        ended = waitpid(child, &status, WNOHANG);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(connection);
    close(listener);
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the process did not end";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace quarn
