#include "script/nodes/Network.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/os/FrameWaits.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptApp.h"
#include "script/nodes/HttpReplyReader.h"
#include "script/nodes/OnlineService.h"
#include "script/nodes/SocketSend.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/OneShotHttpServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

using namespace std::chrono_literals;

using test::OneShotServer;

// Each test a frame of its own: the waits of earlier tests do not count towards its bound.
class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override { BeginFrameWaits(); }
};

std::string Get(Network& node, uint16_t port, const char* path = "/x") {
    node.SetPort(port);
    node.SetTimeout(2s);
    return node.Get("127.0.0.1", path);
}

std::string Repeated(const std::string& text, int count) {
    std::string repeated;
    for (int i = 0; i < count; ++i) {
        repeated += text;
    }
    return repeated;
}

TEST_F(NetworkTest, TheRequestIsExactAndRepliesReachTheScriptAsTheirRulesSay) {
    const std::string bigBody(100 * 1024, 'b');
    // A fetch that ends by its time-out is given 500 ms; every other one ends by itself, at
    // its end or at a bound of the reader, and is given ten times as long, so that its outcome
    // does not hang on how fast the server's thread runs.
    struct Case {
        const char* name;
        OneShotServer::Options server;
        bool fetched;
        std::string body;
        const char* logged; // "" for no log line at all
        std::chrono::milliseconds timeout = 5s;
    };
    const Case cases[] = {
        {"plain lines join",
         {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nline1\r\nline2", 3},
         true,
         "line1line2",
         ""},
        {"chunk extension",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
          "5;name=v\r\nhello\r\n0\r\n\r\n",
          1},
         true,
         "hello",
         ""},
        {"chunks keep their bytes",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
          "4\r\na\r\nb\r\n3\r\ncd\n\r\n0\r\n\r\n",
          2},
         true,
         "a\r\nbcd\n",
         ""},
        {"header name and value ignore case",
         {"HTTP/1.1 200 OK\r\ntransfer-encoding:  Chunked \r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
         true,
         "abc",
         ""},
        {"not found is quiet", {"HTTP/1.1 404 Not Found\r\n\r\nmissing"}, false, "", ""},
        {"other statuses are logged",
         {"HTTP/1.1 500 Internal Server Error\r\n\r\nx"},
         false,
         "",
         "Error #500 - Internal Server Error"},
        {"interim reply read past",
         {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\nok", 4},
         true,
         "ok",
         ""},
        {"not hexadecimal ends the body",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\ncd\r\n"},
         true,
         "ab",
         ""},
        {"100 KB reaches the script whole",
         {"HTTP/1.1 200 OK\r\n\r\n" + bigBody, 1000},
         true,
         bigBody,
         ""},
        // A reply with an end of its own is not waited on past it.
        {"a sized body ends at its length",
         {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", 0, true},
         true,
         "abc",
         ""},
        {"a chunked body ends at its last chunk",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n", 0, true},
         true,
         "ab",
         ""},
        // A page that cannot be had whole is no page.
        {"a megabyte header line",
         {"HTTP/1.1 200 OK\r\nX: " + std::string(1 << 20, 'h') + "\r\n\r\nbody"},
         false,
         "",
         "a line longer than 65536 bytes"},
        {"a body cut short of its length",
         {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(300, 'c')},
         false,
         "",
         "the body ended after 300 of 1000 bytes"},
        {"a chunked body cut before its last chunk",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nab"},
         false,
         "",
         "the chunked body ended before its last chunk"},
        {"a chunk past the body limit",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nffffffff\r\nshort"},
         false,
         "",
         "a chunk larger than the 16777214 bytes left of the body limit"},
        {"a length past the body limit",
         {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc"},
         false,
         "",
         "a body of more than 16777216 bytes"},
        {"a length that is not a number",
         {"HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\nabc"},
         false,
         "",
         "a Content-Length that is not a number"},
        {"two different lengths",
         {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"},
         false,
         "",
         "two different Content-Lengths"},
        {"headers cut by the peer",
         {"HTTP/1.1 200 OK\r\nX: 1\r\n"},
         false,
         "",
         "the reply ended inside its headers"},
        // A reply without end: the fetch ends it, at its time-out or at a bound of the reader,
        // long before the server would stop by itself.
        {"a body two bytes at a time",
         {.answer = "HTTP/1.1 200 OK\r\n\r\n", .repeat = "ab", .pause = 20ms},
         false,
         "",
         "no whole reply within 500 ms",
         500ms},
        {"a header line a byte at a time",
         {.answer = "HTTP/1.1 200 OK\r\nX: ", .repeat = "a", .pause = 20ms},
         false,
         "",
         "no whole reply within 500 ms",
         500ms},
        {"a status line a byte at a time",
         {.repeat = "H", .pause = 20ms},
         false,
         "",
         "no whole reply within 500 ms",
         500ms},
        {"a sized body that stops short",
         {.answer = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", .holdOpen = true},
         false,
         "",
         "no whole reply within 500 ms",
         500ms},
        // The floods come in large pieces: the bound is reached in a few sends.
        {"header lines without end",
         {.answer = "HTTP/1.1 200 OK\r\n", .repeat = Repeated("X-Flood: 1\r\n", 64)},
         false,
         "",
         "more than 128 lines of status and headers"},
        {"interim replies without end",
         {.repeat = Repeated("HTTP/1.1 100 Continue\r\n\r\n", 64)},
         false,
         "",
         "more than 128 lines of status and headers"},
        {"a header line without end",
         {.answer = "HTTP/1.1 200 OK\r\nX: ", .repeat = std::string(16384, 'h')},
         false,
         "",
         "a line longer than 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneShotServer server(c.server);
        test::CapturingLogSink log;
        Network node;
        node.SetPort(server.Port());
        node.SetTimeout(c.timeout);
        std::string body = "stale";
        EXPECT_EQ(node.Fetch("127.0.0.1", "/x", body), c.fetched);
        EXPECT_FALSE(server.RanOut());
        EXPECT_EQ(body, c.body);
        EXPECT_STREQ(node.GetLastError(), "");
        if (c.fetched) {
            EXPECT_EQ(node.GetFailure(), "");
        } else {
            EXPECT_NE(node.GetFailure(), "");
        }
        EXPECT_EQ(server.Request(),
                  "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        if (*c.logged) {
            EXPECT_TRUE(log.Contains(c.logged));
            EXPECT_NE(node.GetFailure().find(c.logged), std::string::npos);
        } else {
            EXPECT_TRUE(log.Lines().empty());
        }
    }
}

int FailLookUp(const char*, const char*, const addrinfo*, addrinfo**) {
    return EAI_NONAME;
}

// 127.0.0.2 (where nothing listens), then 127.0.0.1.
int TwoAddresses(const char*, const char* service, const addrinfo* hints, addrinfo** result) {
    addrinfo* second = nullptr;
    if (getaddrinfo("127.0.0.1", service, hints, &second) != 0) {
        return EAI_FAIL;
    }
    if (getaddrinfo("127.0.0.2", service, hints, result) != 0) {
        freeaddrinfo(second);
        return EAI_FAIL;
    }
    addrinfo* last = *result;
    while (last->ai_next) {
        last = last->ai_next;
    }
    last->ai_next = second;
    return 0;
}

TEST_F(NetworkTest, TheAddressesAreTriedInOrderAndSuccessClearsTheErrorText) {
    OneShotServer server({"HTTP/1.1 200 OK\r\n\r\nsecond"});
    Network node;
    Network::SetResolver(&TwoAddresses);
    EXPECT_EQ(Get(node, server.Port()), "second");
    Network::SetResolver(nullptr);
    EXPECT_STREQ(node.GetLastError(), "");
}

TEST_F(NetworkTest, TransportFailuresLeaveTheirTextAndAnswerEmpty) {
    Network node;
    Network::SetResolver(&FailLookUp);
    EXPECT_EQ(Get(node, 80), "");
    EXPECT_STREQ(node.GetLastError(), "Host not found");
    Network::SetResolver(nullptr);

    uint16_t closedPort;
    {
        OneShotServer server({"", 0, false, true});
        closedPort = server.Port();
    }
    EXPECT_EQ(Get(node, closedPort), "");
    EXPECT_STREQ(node.GetLastError(), "Connection failed");

    OneShotServer closing({"", 0, false, true});
    EXPECT_EQ(Get(node, closing.Port()), "");
    EXPECT_STREQ(node.GetLastError(), "");
}

TEST_F(NetworkTest, ABodyOfNoLengthThatNeverEndsIsNoPage) {
    OneShotServer server({"HTTP/1.1 200 OK\r\n\r\npartial", 0, true});
    test::CapturingLogSink log;
    Network node;
    node.SetPort(server.Port());
    node.SetTimeout(200ms);
    EXPECT_EQ(std::string(node.Get("127.0.0.1", "/")), "");
    EXPECT_TRUE(log.Contains("no whole reply within 200 ms"));
}

std::atomic<bool> lookUpReleased{false};
std::atomic<bool> lookUpAnswered{false};

// A name server that does not answer until the test lets it (ten seconds at most).
int StuckLookUp(const char*, const char*, const addrinfo*, addrinfo**) {
    for (int wait = 0; wait < 1000 && !lookUpReleased; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    lookUpAnswered = true;
    return EAI_AGAIN;
}

TEST_F(NetworkTest, ANameLookUpThatDoesNotAnswerEndsWithTheTimeOut) {
    Network node;
    node.SetTimeout(100ms);
    Network::SetResolver(&StuckLookUp);
    std::string body;
    EXPECT_FALSE(node.Fetch("scores.example", "/", body));
    EXPECT_FALSE(lookUpAnswered);
    Network::SetResolver(nullptr);
    EXPECT_STREQ(node.GetLastError(), "Host not found");
    EXPECT_EQ(node.GetFailure(), "Host not found");
    lookUpReleased = true;
    for (int wait = 0; wait < 1000 && !lookUpAnswered; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
}

TEST_F(NetworkTest, ALineBreakInHostOrPathSendsNothing) {
    OneShotServer server({"HTTP/1.1 200 OK\r\n\r\nx"});
    Network node;
    EXPECT_EQ(Get(node, server.Port(), "/a\nGET /b"), "");
    node.SetPort(server.Port());
    EXPECT_STREQ(node.Get("127.0.0.1\r", "/"), "");
    EXPECT_FALSE(server.Accepted());
}

TEST_F(NetworkTest, ReplyReaderRefusesABodyBeyondItsLimit) {
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
    const size_t total = HttpReplyReader::MaxBodyLength + 10;
    size_t given = 0;
    HttpReplyReader reader([&](char* buffer, size_t size) -> long {
        if (given < head.size()) {
            const size_t count = std::min(size, head.size() - given);
            std::memcpy(buffer, head.data() + given, count);
            given += count;
            return long(count);
        }
        const size_t count = std::min(size, total + head.size() - given);
        std::memset(buffer, 'z', count);
        given += count;
        return long(count);
    });
    test::CapturingLogSink log;
    ASSERT_TRUE(reader.ReadStatus());
    std::string body;
    EXPECT_FALSE(reader.ReadBody(body));
    EXPECT_EQ(body, "");
    EXPECT_EQ(reader.Failure(), "a body of more than 16777216 bytes");
    EXPECT_TRUE(log.Contains("a body of more than 16777216 bytes"));
}

TEST(SocketSendAllTest, SendsWholeOrReportsTheShortCount) {
    EXPECT_EQ(SocketSendAll(-1, "abc", 3), 0u);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const std::string data(300, 'd');
    EXPECT_EQ(SocketSendAll(pair[0], data.data(), 300), 300u);
    EXPECT_EQ(SocketSendAll(pair[0], data.data(), 0), 0u);
    char buffer[400];
    EXPECT_EQ(recv(pair[1], buffer, sizeof buffer, 0), 300);

    // A full buffer fails the send part-way: the count is what the peer can read.
    const int small = 4096;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    fcntl(pair[0], F_SETFL, O_NONBLOCK);
    const std::string large(1 << 20, 'L');
    const uint32_t sent = SocketSendAll(pair[0], large.data(), uint32_t(large.size()));
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, large.size());
    size_t received = 0;
    fcntl(pair[1], F_SETFL, O_NONBLOCK);
    for (ssize_t count; (count = recv(pair[1], buffer, sizeof buffer, 0)) > 0;) {
        received += size_t(count);
    }
    EXPECT_EQ(received, sent);

    // A peer that has closed gives a short count, not SIGPIPE.
    close(pair[1]);
    EXPECT_EQ(SocketSendAll(pair[0], data.data(), 300), 0u);
    close(pair[0]);
}

// A client whose list fetch completes on the third call.
class FakeService : public OnlineService {
public:
    bool Open(const char*, const char*, const char* version) override {
        version_ = version;
        return true;
    }
    const char* SetUserName(const char* name, const char*) override {
        name_ = name;
        return "SUCCESS";
    }
    bool Close() override { return true; }
    bool QueryTrueA() override { return true; }
    int32_t QueryCode() override { return 13; }
    bool QueryTrueB() override { return true; }
    bool SubmitFlag(const char*, int32_t, int32_t, const char*) override { return true; }
    bool HasFlag(const char*, int32_t bit) override { return bit == 3; }
    int32_t GetFlags() override { return 8; }
    bool RequestList(const char*, int32_t) override { return ++fetches_ >= 3; }
    bool SubmitRecord(const char* name, Int3 position, int32_t value) override {
        submitted_ = std::string(name) + ":" + std::to_string(position.x) + "," +
                     std::to_string(position.y) + "," + std::to_string(position.z) + ":" +
                     std::to_string(value);
        return true;
    }
    int32_t GetRecordCount() override { return fetches_ >= 3 ? 2 : 0; }
    Int3 GetRecordPosition(int32_t index) override { return {index, 20, 30}; }
    const char* GetRecordName(int32_t) override { return "#me"; }
    int32_t GetRecordValue(int32_t index) override { return index * 100; }
    int32_t GetOwnRecordIndex() override { return 1; }
    const char* GetHostName() override { return "scores.example"; }
    const char* GetMessage() override { return "star"; }
    int32_t GetState() override { return 2; }
    const char* GetOwnName() override { return "me"; }
    const char* GetExtraTextA() override { return ""; }
    const char* GetExtraTextB() override { return ""; }

    std::string version_;
    std::string name_;
    std::string submitted_;
    int fetches_ = 0;
};

class ServiceApp : public ScriptApp {
public:
    OnlineService* GetOnlineService() override {
        if (!service) {
            service = std::make_unique<FakeService>();
        }
        return service.get();
    }
    std::unique_ptr<FakeService> service;
};

uint32_t Word(const char* text) {
    return TextWordOf(PutTempString(text));
}

std::string Text(uint32_t word) {
    return LookupText(word);
}

// Calls method `order` (1-based) with `arguments`; the block is as large as any method needs.
std::vector<uint32_t> Call(int order, std::vector<uint32_t> arguments) {
    std::vector<uint32_t> block(8, 0xDEADu);
    std::copy(arguments.begin(), arguments.end(), block.begin() + 1);
    Network node;
    Network::RegisterClass()->GetOwnMethods()[size_t(order - 1)]->Call(&node, block.data());
    return block;
}

TEST(NetworkServiceTest, WithoutAClientEveryMethodAnswersItsFallback) {
    ASSERT_EQ(CurrentOnlineService(), nullptr);
    const uint32_t s = Word("x");
    struct Case {
        int order;
        std::vector<uint32_t> arguments;
        std::vector<uint32_t> result;
    };
    const uint32_t minus1 = uint32_t(-1);
    const Case cases[] = {
        {2, {s, 1, 2, 3, 4, 1}, {0}},
        {3, {s, 5}, {minus1}},
        {4, {s}, {0}},
        {5, {7, 8, 9}, {0, 0, 0}},
        {7, {1}, {0}},
        {8, {}, {minus1}},
        {15, {}, {0}},
        {16, {}, {0}},
        {17, {}, {0}},
        {19, {}, {0}},
        {20, {s, 1, 2, s}, {0}},
        {21, {s, 1}, {0}},
        {22, {}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        const std::vector<uint32_t> block = Call(c.order, c.arguments);
        EXPECT_EQ(std::vector<uint32_t>(block.begin(), block.begin() + long(c.result.size())),
                  c.result);
    }
    for (int order : {6, 10, 11, 12}) {
        EXPECT_EQ(Text(Call(order, {0})[0]), "") << order;
    }
    EXPECT_EQ(Text(Call(18, {s, s})[0]), "");
    EXPECT_EQ(CurrentOnlineService(), nullptr);
}

TEST(NetworkServiceTest, OpenCreatesTheClientAndTheMethodsReachIt) {
    ServiceApp app;
    SetScriptApp(&app);
    EXPECT_EQ(Call(14, {Word("a"), Word("b"), Word("1.2")})[0], 1u);
    ASSERT_NE(app.service, nullptr);
    EXPECT_EQ(app.service->version_, "1.2");

    EXPECT_EQ(Call(3, {Word("top"), 10})[0], uint32_t(-1));
    EXPECT_EQ(Call(3, {Word("top"), 10})[0], uint32_t(-1));
    EXPECT_EQ(Call(3, {Word("top"), 10})[0], 2u);

    // The int3 result overwrites the argument words.
    const std::vector<uint32_t> position = Call(5, {4});
    EXPECT_EQ(std::vector<uint32_t>(position.begin(), position.begin() + 3),
              (std::vector<uint32_t>{4, 20, 30}));
    EXPECT_EQ(Call(2, {Word("ann"), 1, 2, 3, 7, 0})[0], 1u);
    EXPECT_EQ(app.service->submitted_, "ann:1,2,3:7");
    EXPECT_EQ(Text(Call(6, {0})[0]), "#me");
    EXPECT_EQ(Call(7, {2})[0], 200u);
    EXPECT_EQ(Text(Call(10, {})[0]), "scores.example");
    EXPECT_EQ(Text(Call(18, {Word("ann"), Word("")})[0]), "SUCCESS");
    EXPECT_EQ(Call(17, {})[0], 13u);
    EXPECT_EQ(Call(21, {Word(""), 3})[0], 1u);
    EXPECT_EQ(Call(22, {})[0], 8u);
    SetScriptApp(nullptr);
    app.service.reset();
}

} // namespace
} // namespace quarn
