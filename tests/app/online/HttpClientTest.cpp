#include "app/online/HttpClient.h"

#include "TestPaths.h"
#include "app/online/HttpRequestAsync.h"
#include "tests/app/online/LoopbackHttpServer.h"

namespace quarn {
namespace {

using test::LoopbackHttpServer;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(HttpClient, APostCarriesItsHeadersCookiesAndData) {
    LoopbackHttpServer server(LoopbackHttpServer::Answer("gone", "404 Not Found"));
    HttpClient client(server.Address() + "form?a=1");
    client.SetAdditionalRequestHeaders("X-One: 1\r\nX-Two: 2\r\n");
    client.SetCookies("session=abc");
    client.SetDataToSend("name=Ann");
    ASSERT_TRUE(client.SendHttpRequest("post"));
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /form?a=1 HTTP/1.1");
    for (const char* line : {"\r\nX-One: 1", "\r\nX-Two: 2", "\r\nCookie: session=abc",
                             "\r\nContent-Length: 8", "\r\nUser-Agent: WinHttpClient"}) {
        EXPECT_TRUE(Has(request, line)) << line;
    }
    EXPECT_EQ(client.GetStatusCode(), "404");
    EXPECT_EQ(client.GetResponseHeader().rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_EQ(client.GetResponseContent(), "gone");
    EXPECT_EQ(client.GetResponseCharset(), "utf-8");
    EXPECT_EQ(client.GetHost(), "127.0.0.1");
}

TEST(HttpClient, FollowsRedirectsUnlessAskedNotTo) {
    LoopbackHttpServer target(LoopbackHttpServer::Answer("arrived"));
    LoopbackHttpServer mover("HTTP/1.1 302 Found\r\nLocation: " + target.Address() +
                             "there\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved");
    HttpClient following(mover.Address() + "here");
    ASSERT_TRUE(following.SendHttpRequest());
    EXPECT_EQ(following.GetStatusCode(), "200");
    EXPECT_EQ(following.GetResponseContent(), "arrived");
    EXPECT_EQ(following.GetResponseHeader().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    HttpClient staying(mover.Address() + "here");
    ASSERT_TRUE(staying.SendHttpRequest("GET", true));
    EXPECT_EQ(staying.GetStatusCode(), "302");
    EXPECT_EQ(staying.GetResponseContent(), "moved");
    ASSERT_EQ(target.Requests().size(), 1u);
    EXPECT_EQ(test::RequestTarget(target.Requests()[0]), "there");
}

TEST(HttpClient, ANamedProxyIsAskedWithItsCredentials) {
    LoopbackHttpServer proxy(LoopbackHttpServer::Answer("via proxy"));
    HttpClient client("http://scores.example.invalid/top");
    client.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    client.SetProxyUserName("ann");
    client.SetProxyPassword("pw");
    ASSERT_TRUE(client.SendHttpRequest());
    EXPECT_EQ(client.GetResponseContent(), "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    const std::string request = proxy.Requests()[0];
    EXPECT_EQ(request.substr(0, request.find("\r\n")),
              "GET http://scores.example.invalid/top HTTP/1.1");
    EXPECT_TRUE(Has(request, "\r\nProxy-Authorization: Basic YW5uOnB3"));
}

TEST(HttpClient, AServerWithoutAValidCertificateIsRefusedUnlessAllowed) {
    LoopbackHttpServer server(
        LoopbackHttpServer::Options{.answer = LoopbackHttpServer::Answer("secret"),
                                    .certificateFile = QUARN_TEST_DATA "/tls/loopback.crt",
                                    .keyFile = QUARN_TEST_DATA "/tls/loopback.key"});
    HttpClient verifying(server.Address() + "vault");
    EXPECT_FALSE(verifying.SendHttpRequest());
    EXPECT_NE(verifying.GetLastError(), 0u);
    EXPECT_TRUE(verifying.GetResponseContent().empty());

    HttpRequest request{server.Address(), "vault", {}};
    ASSERT_TRUE(test::PollFrames([&] { return HttpRequestAsync(request); }));
    EXPECT_EQ(request.reply, "");
    EXPECT_TRUE(Has(request.failure, "SSL certificate problem")) << request.failure;
    EXPECT_TRUE(server.Requests().empty());

    HttpClient trusting(server.Address() + "vault");
    trusting.SetRequireValidCertificates(false);
    ASSERT_TRUE(trusting.SendHttpRequest());
    EXPECT_EQ(trusting.GetResponseContent(), "secret");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(test::RequestTarget(server.Requests()[0]), "vault");
}

// 20 bytes a second is far above the low-speed limit: only the overall time-out ends this.
TEST(HttpClient, AnExchangeEndsAtItsTimeOutHoweverSlowlyTheServerSends) {
    test::ShortHttpTimeout timeout(std::chrono::milliseconds(500));
    LoopbackHttpServer server({.answer = LoopbackHttpServer::Answer(std::string(1000, 'd')),
                               .fragment = 2,
                               .pause = std::chrono::milliseconds(100)});
    HttpClient client(server.Address() + "drip");
    EXPECT_FALSE(client.SendHttpRequest());
    EXPECT_EQ(client.GetStatusCode(), "");
    EXPECT_TRUE(Has(client.GetFailure(), "timed out")) << client.GetFailure();
    EXPECT_EQ(client.GetLastError(), 28u); // CURLE_OPERATION_TIMEDOUT
}

// A request that reached the server may have done its work there, so it is never sent again:
// not when the server keeps it and closes without a word, not when it stalls past the
// time-out, not when a redirect's connection dies under the next request.
TEST(HttpClient, ARequestThatReachedTheServerIsSentOnce) {
    test::ShortHttpTimeout timeout(std::chrono::milliseconds(1000));
    const struct {
        const char* name;
        LoopbackHttpServer::Options server;
        std::vector<std::string> targets; // of the requests the server received
        const char* failure;
    } cases[] = {
        {"closed after a pause",
         {.answer = "", .delay = std::chrono::milliseconds(150)},
         {"once"},
         "Empty reply from server"},
        {"stalled past the time-out",
         {.answer = "", .delay = std::chrono::milliseconds(3000)},
         {"once"},
         "timed out"},
        {"redirected, then closed",
         {.answer = "HTTP/1.1 302 Found\r\nLocation: /there\r\nContent-Length: 0\r\n\r\n",
          .keepAlive = true},
         {"once", "there"},
         "Empty reply from server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server(c.server);
        HttpClient client(server.Address() + "once");
        client.SendHttpRequest(); // the redirect's 302 was a response
        EXPECT_TRUE(Has(client.GetFailure(), c.failure)) << client.GetFailure();
        std::vector<std::string> targets;
        for (const std::string& request : server.Requests()) {
            targets.push_back(test::RequestTarget(request));
        }
        EXPECT_EQ(targets, c.targets);
    }
}

} // namespace
} // namespace quarn
