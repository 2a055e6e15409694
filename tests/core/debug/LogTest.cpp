#include "core/debug/Log.h"

#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(Log, MessagesReachTheSinkWithTheirChannelAndPosition) {
    test::CapturingLogSink log;
    LogMessage("plain %d", 1);
    LogChannelMessage("audio", "buffer %s", "lost");
    LogAtPosition("script", (12u << 16) | 5u, "bad %s", "x"); // line.column
    LogAtPosition("script", 0xFFFFFFFFu, "%s", "end");
    // User text is never read as a format.
    LogChannelMessage("scene", "%s", "100%s %n done");
    LogMessage("%s", std::string(10000, 'l').c_str());
    ASSERT_EQ(log.Lines().size(), 6u);
    std::string lines;
    for (size_t i = 0; i < 5; ++i) {
        lines += log.Lines()[i].channel + "|" + log.Lines()[i].text + "\n";
    }
    EXPECT_EQ(lines, "|plain 1\naudio|buffer lost\nscript|12.5: bad x\nscript|65535.65535: end\n"
                     "scene|100%s %n done\n");
    EXPECT_EQ(log.Lines()[5].text.size(), 4095u) << "long messages are cut";
}

TEST(Log, ALongPathKeepsItsStartAndEndAndSaysHowMuchWasLeftOut) {
    EXPECT_EQ(LoggedPath(nullptr), "");
    const std::string fits(LoggedPathLength, 'p');
    EXPECT_EQ(LoggedPath(fits.c_str()), fits);
    const std::string start(LoggedPathLength / 2, 's');
    const std::string end(LoggedPathLength / 2, 'e');
    EXPECT_EQ(LoggedPath((start + "m" + end).c_str()), start + "[1 characters left out]" + end);
    EXPECT_EQ(LoggedPath((start + std::string(70000, 'm') + end).c_str()),
              start + "[70000 characters left out]" + end);
}

} // namespace
} // namespace quarn
