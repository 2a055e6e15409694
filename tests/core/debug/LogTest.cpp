#include "core/debug/Log.h"

#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(Log, MessagesReachTheSinkWithTheirChannel) {
    test::CapturingLogSink log;
    LogMessage("plain %d", 1);
    LogChannelMessage("audio", "buffer %s", "lost");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0].channel, "");
    EXPECT_EQ(log.Lines()[0].text, "plain 1");
    EXPECT_EQ(log.Lines()[1].channel, "audio");
    EXPECT_EQ(log.Lines()[1].text, "buffer lost");
}

TEST(Log, PositionsArePrintedAsLineDotColumn) {
    test::CapturingLogSink log;
    LogAtPosition("script", (12u << 16) | 5u, "bad %s", "x");
    LogAtPosition("script", 0xFFFFFFFFu, "%s", "end");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0].channel, "script");
    EXPECT_EQ(log.Lines()[0].text, "12.5: bad x");
    EXPECT_EQ(log.Lines()[1].text, "65535.65535: end");
}

TEST(Log, UserTextIsNeverReadAsAFormat) {
    test::CapturingLogSink log;
    LogChannelMessage("scene", "%s", "100%s %n done");
    EXPECT_EQ(log.Lines().at(0).text, "100%s %n done");
}

TEST(Log, LongMessagesAreCutAt4095Characters) {
    test::CapturingLogSink log;
    LogMessage("%s", std::string(10000, 'l').c_str());
    EXPECT_EQ(log.Lines().at(0).text.size(), 4095u);
}

TEST(Log, TheDefaultSinkDiscardsAndComesBack) {
    LogSink before = GetLogSink();
    {
        test::CapturingLogSink log;
        EXPECT_NE(GetLogSink(), before);
    }
    EXPECT_EQ(GetLogSink(), before);
    SetLogSink(nullptr);
    LogMessage("nobody listens");
    EXPECT_NE(GetLogSink(), nullptr);
}

} // namespace
} // namespace quarn
