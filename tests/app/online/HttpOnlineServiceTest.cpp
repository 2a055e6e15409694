#include "app/online/HttpOnlineService.h"

#include "TestPaths.h"
#include "app/platform/SdlPlatform.h"
#include "core/filesystem/SettingsFile.h"
#include "tests/app/online/LoopbackHttpServer.h"
#include "tests/support/CapturingLogSink.h"

#include <algorithm>
#include <climits>

namespace quarn {
namespace {

using test::LoopbackHttpServer;
using test::PollFrames;

std::string Text(Int3 position) {
    return std::to_string(position.x) + "," + std::to_string(position.y) + "," +
           std::to_string(position.z);
}

std::string Names(const OnlineList& list) {
    std::string names;
    for (const OnlineRecord& record : list.records) {
        names += (names.empty() ? "" : " ") + record.name;
    }
    return names;
}

TEST(ParseRecordList, ReadsRecordsFlagsAndTheMessage) {
    const struct {
        const char* name;
        std::string reply;
        std::string names; // in list order
        int32_t ownIndex;
        int32_t flags;
        std::string ownName;
        std::string message;
    } cases[] = {
        {"records sort by x, the own one found after", "#me;1;2;3;7\r\na;0;0;0;5\n*hello\n",
         "a #me", 1, 7, "me", "hello"},
        {"equal x and y order by z, then value as unsigned, descending",
         "b;1;1;1;0\rc;1;1;5;0\rd;1;1;5;-1\re;0;9;0;0\rf;1;0;0;0", "e f d c b", -1, 0, "", ""},
        {"fewer than four separators, an empty name or a blank line add nothing",
         "a;1;2;3\n;1;2;3;4\n\n\r\n*\n", "", -1, 0, "", ""},
        {"the last own record read sets the flags, the first sorted is the own index",
         "#y;2;0;0;2\n#x;5;0;0;1\n*one\n*two", "#y #x", 0, 1, "x", "two"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OnlineList list;
        ParseRecordList(c.reply, list);
        EXPECT_EQ(Names(list), c.names);
        EXPECT_EQ(list.ownIndex, c.ownIndex);
        EXPECT_EQ(list.flags, c.flags);
        EXPECT_EQ(list.ownName, c.ownName);
        EXPECT_EQ(list.message, c.message);
    }
}

// The value ends at a fifth separator; numbers read as atoi reads them.
TEST(ParseRecordList, KeepsEachRecordsNumbers) {
    OnlineList list;
    ParseRecordList("a; 4x;+5;-6;77;extra\nb;99999999999;0;0;-99999999999", list);
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(Text(list.records[0].position), "4,5,-6");
    EXPECT_EQ(list.records[0].value, 77);
    EXPECT_EQ(Text(list.records[1].position), "2147483647,0,0");
    EXPECT_EQ(list.records[1].value, INT32_MIN);
}

// A client whose user is "Ann B&c" with version "1.0 beta", on a server that answers `answer`.
class OnlineServiceTest : public ::testing::Test {
protected:
    explicit OnlineServiceTest(std::string answer = "NOPE")
        : server(LoopbackHttpServer::Answer(answer)), service(server.Address(), 0xFFFFFFFFu) {}

    void SignIn() {
        ASSERT_TRUE(service.Open("", "", "1.0 beta"));
        ASSERT_STREQ(service.SetUserName("Ann B&c", ""), "SUCCESS");
    }
    // The path and query of every request so far.
    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const std::string& request : server.Requests()) {
            targets.push_back(test::RequestTarget(request));
        }
        return targets;
    }

    LoopbackHttpServer server;
    HttpOnlineService service;
};

TEST_F(OnlineServiceTest, SubmitsCarryTheirParametersEncoded) {
    SignIn();
    EXPECT_FALSE(service.SubmitFlag("", 33, -4, "a b#c%"));
    EXPECT_FALSE(service.SubmitRecord("Zo\xC3\xAB/1=2", Int3(1, -2, 3), 5));
    ASSERT_TRUE(server.WaitForRequests(2));
    std::vector<std::string> targets = Targets();
    std::sort(targets.begin(), targets.end()); // the two may arrive in either order
    EXPECT_EQ(targets, (std::vector<std::string>{
                           "flag?key=&user=Ann_B%26c&v=1.0_beta&bit=2&set=2&n=-4&text=a_b%23c%25",
                           "record?name=Zo%C3%AB%2F1%3D2&user=Ann_B%26c&v=1.0_beta&x=1&y=-2&z=3"
                           "&value=5"}));
}

TEST_F(OnlineServiceTest, AFlagSubmissionWithoutSuccessStillSetsItsBit) {
    SignIn();
    bool answer = true;
    ASSERT_TRUE(PollFrames([&] {
        answer = service.SubmitFlag("", 33, 0, "");
        return service.GetFlags() != 0;
    }));
    EXPECT_FALSE(answer);
    EXPECT_EQ(service.GetFlags(), 2); // bit 33 is bit 1, as HasFlag reads it
    EXPECT_TRUE(service.HasFlag("", 33));
    EXPECT_TRUE(service.HasFlag("", 1));
    EXPECT_FALSE(service.HasFlag("", 0));
}

TEST_F(OnlineServiceTest, NothingIsSubmittedBeforeAUserNameIsAccepted) {
    EXPECT_STREQ(service.SetUserName("Ann", ""), "");
    EXPECT_FALSE(service.SubmitFlag("", 1, 0, "x"));
    EXPECT_FALSE(service.SubmitRecord("Ann", Int3(), 1));
    EXPECT_EQ(service.GetFlags(), 0);
    // A list needs no user: once it has come, it is the only request the server saw.
    ASSERT_TRUE(PollFrames([&] { return service.RequestList("top", 10); }));
    EXPECT_EQ(Targets(), std::vector<std::string>{"list?list=top&user=&v=&serial=2147483647&n=10"});
}

class OnlineListTest : public OnlineServiceTest {
protected:
    OnlineListTest() : OnlineServiceTest("#me;1;2;3;7\r\na;0;0;0;5\n*hello\n") {}
};

TEST_F(OnlineListTest, AListArrivesAfterSomeFramesAndIsReadIn) {
    SignIn();
    EXPECT_FALSE(service.RequestList("top ten", 3));
    ASSERT_TRUE(PollFrames([&] { return service.RequestList("top ten", 3); }));
    EXPECT_EQ(Targets(), std::vector<std::string>{
                             "list?list=top_ten&user=Ann_B%26c&v=1.0_beta&serial=2147483647&n=3"});
    ASSERT_EQ(service.GetRecordCount(), 2);
    EXPECT_STREQ(service.GetRecordName(0), "a");
    EXPECT_EQ(Text(service.GetRecordPosition(0)), "0,0,0");
    EXPECT_EQ(service.GetRecordValue(0), 5);
    EXPECT_STREQ(service.GetRecordName(1), "#me");
    EXPECT_EQ(Text(service.GetRecordPosition(1)), "1,2,3");
    EXPECT_EQ(service.GetOwnRecordIndex(), 1);
    EXPECT_EQ(service.GetFlags(), 7);
    EXPECT_STREQ(service.GetOwnName(), "me");
    EXPECT_STREQ(service.GetMessage(), "hello");
    EXPECT_STREQ(service.GetHostName(), "127.0.0.1");

    for (int32_t index : {-1, 2, INT32_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(Text(service.GetRecordPosition(index)), "0,0,0");
        EXPECT_STREQ(service.GetRecordName(index), "");
        EXPECT_EQ(service.GetRecordValue(index), 0);
    }

    // The next request empties the list at once; the message stays until a new one comes.
    EXPECT_FALSE(service.RequestList("top ten", 4));
    EXPECT_EQ(service.GetRecordCount(), 0);
    EXPECT_EQ(service.GetOwnRecordIndex(), -1);
    EXPECT_STREQ(service.GetMessage(), "hello");
}

// An exchange that fails is no answer: the operation keeps answering false, changes nothing,
// and the log says why.
TEST(HttpOnlineService, AFailedExchangeIsAFailureWithItsReasonInTheLog) {
    uint16_t closedPort;
    {
        LoopbackHttpServer closed(LoopbackHttpServer::Answer(""));
        closedPort = closed.Port();
    }
    std::string cutList;
    while (cutList.size() < 300) {
        cutList += "a;1;2;3;4\n";
    }
    enum Operation { Flag, Record, List };
    const struct {
        const char* name;
        LoopbackHttpServer::Options server;
        bool refused; // the address is a closed port instead of the server
        Operation operation;
        std::string logged;
    } cases[] = {
        {"a 500 page holding SUCCESS",
         {.answer = LoopbackHttpServer::Answer("SUCCESS", "500 Internal Server Error")},
         false,
         Record,
         "SubmitRecord failed: HTTP status 500"},
        {"a flag refused with SUCCESS",
         {.answer = LoopbackHttpServer::Answer("SUCCESS", "403 Forbidden")},
         false,
         Flag,
         "SubmitFlag failed: HTTP status 403"},
        {"a list cut at 300 of 1000 bytes",
         {.answer = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n" +
                    cutList.substr(0, 300)},
         false,
         List,
         "RequestList failed: transfer closed with 700 bytes remaining to read"},
        {"a refused connection", {}, true, List, "RequestList failed: Failed to connect"},
        {"a certificate that does not verify",
         {.answer = LoopbackHttpServer::Answer("a;1;2;3;4"),
          .certificateFile = QUARN_TEST_DATA "/tls/loopback.crt",
          .keyFile = QUARN_TEST_DATA "/tls/loopback.key"},
         false,
         List,
         "RequestList failed: SSL certificate problem"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server(c.server);
        test::CapturingLogSink log;
        HttpOnlineService service(c.refused ? "http://127.0.0.1:" + std::to_string(closedPort) + "/"
                                            : server.Address(),
                                  1);
        service.Open("", "", "1");
        service.SetUserName("Ann", "");
        bool answered = false;
        ASSERT_TRUE(PollFrames([&] {
            switch (c.operation) {
            case Flag:
                answered |= service.SubmitFlag("", 3, 0, "");
                break;
            case Record:
                answered |= service.SubmitRecord("Ann", Int3(1, 2, 3), 4);
                break;
            case List:
                answered |= service.RequestList("top", 10);
                break;
            }
            return log.Contains("Online service: " + c.logged);
        }));
        EXPECT_FALSE(answered);
        EXPECT_EQ(service.GetRecordCount(), 0);
        EXPECT_EQ(service.GetFlags(), 0);
    }
}

// Also when the game asks for more than one thing each frame, whose failures read differently.
TEST(HttpOnlineService, AServerThatStaysDownIsLoggedOnce) {
    LoopbackHttpServer server(LoopbackHttpServer::Answer("", "503 Service Unavailable"));
    test::CapturingLogSink log;
    HttpOnlineService service(server.Address(), 1);
    service.SetUserName("Ann", "");
    ASSERT_TRUE(PollFrames([&] {
        service.RequestList("top", 1);
        service.SubmitRecord("Ann", Int3(1, 2, 3), 4);
        return server.Requests().size() >= 5; // failed exchanges of both kinds, and more
    }));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Online service: RequestList failed: HTTP status 503");
}

TEST(HttpOnlineService, WithoutAServiceAddressEveryExchangeAnswersFalseAtOnce) {
    HttpOnlineService service("", 1);
    EXPECT_TRUE(service.Open("", "", "1"));
    EXPECT_EQ(service.GetState(), 2);
    EXPECT_STREQ(service.SetUserName("Ann", ""), "SUCCESS");
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_FALSE(service.SubmitFlag("", 0, 0, ""));
        EXPECT_FALSE(service.SubmitRecord("Ann", Int3(1, 1, 1), 1));
        EXPECT_FALSE(service.RequestList("top", 1));
    }
    EXPECT_EQ(service.GetFlags(), 0);
    EXPECT_STREQ(service.GetHostName(), "");
    EXPECT_TRUE(service.Close());
    EXPECT_EQ(service.GetState(), 0);
}

TEST(HttpOnlineService, ThePlatformMakesOneClientForTheRunOnItsSettings) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    GetMainSettings().SetString("online_service_url", "https://scores.example.org:8443/game");
    SdlPlatform platform("");
    EXPECT_EQ(CurrentOnlineService(), nullptr);
    OnlineService* service = platform.GetOnlineService();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(platform.GetOnlineService(), service);
    EXPECT_EQ(CurrentOnlineService(), service);
    EXPECT_STREQ(service->GetHostName(), "scores.example.org");
    EXPECT_EQ(service->GetState(), 0);
    EXPECT_EQ(service->GetOwnRecordIndex(), -1);
    EXPECT_STREQ(service->GetExtraTextA(), "");
    EXPECT_STREQ(service->GetExtraTextB(), "");
    EXPECT_EQ(service->QueryCode(), 13);
}

} // namespace
} // namespace quarn
