#include "core/string/FixedString.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(FixedString, FormatAndAppendCutToTheCapacityAndKeepTheLength) {
    PathString path;
    path.Format("%s", std::string(300, 'p').c_str());
    EXPECT_EQ(path.Length(), 259);
    EXPECT_EQ(std::strlen(path.Text()), 259u);
    String32 exact;
    exact.Format("%s", std::string(31, 'e').c_str());
    EXPECT_EQ(exact.Length(), 31);
    String32 small("0123456789012345678901234567");
    small.Append("abcdefgh");
    EXPECT_STREQ(small.Text(), "0123456789012345678901234567abc");
    EXPECT_EQ(small.Length(), 31);
    small.Truncate(40);
    EXPECT_EQ(small.Length(), 31) << "a cut past the end changes nothing";
    small.Truncate(3);
    EXPECT_STREQ(small.Text(), "012");
    EXPECT_EQ(small.Length(), 3);
}

} // namespace
} // namespace quarn
