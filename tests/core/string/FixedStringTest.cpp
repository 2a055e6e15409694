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
    String64 name;
    name.Format("%s", std::string(70, 'n').c_str());
    EXPECT_EQ(name.Length(), 63);
    EXPECT_EQ(std::strlen(name.Text()), 63u);
    String256 signature;
    signature.Format("%s", std::string(256, 's').c_str());
    EXPECT_EQ(signature.Length(), 255);
    String32 exact;
    exact.Format("%s", std::string(31, 'e').c_str());
    EXPECT_EQ(exact.Length(), 31);
    exact.Format("%d-%d", 1, 2);
    EXPECT_STREQ(exact.Text(), "1-2");
    EXPECT_EQ(exact.Length(), 3);
    PathString folder("textures/");
    PathString file = folder + "wall.png";
    EXPECT_STREQ(file.Text(), "textures/wall.png");
    EXPECT_EQ(file.Length(), 17);
    EXPECT_STREQ(folder.Text(), "textures/") << "+ leaves the left side alone";
    String32 small("0123456789012345678901234567");
    small.Append("abcdefgh");
    EXPECT_STREQ(small.Text(), "0123456789012345678901234567abc");
    EXPECT_EQ(small.Length(), 31);
    small.Truncate(40);
    EXPECT_EQ(small.Length(), 31) << "a cut past the end changes nothing";
    small.Truncate(3);
    EXPECT_STREQ(small.Text(), "012");
    EXPECT_EQ(small.Length(), 3);
    small.Set(nullptr);
    EXPECT_EQ(small.Length(), 0);
}

TEST(FixedString, PathFileNameTakesTheTextAfterTheLastSlash) {
    EXPECT_STREQ(PathFileName("a/b/c.tga").Text(), "c.tga");
    EXPECT_STREQ(PathFileName("c.tga").Text(), "c.tga");
    EXPECT_STREQ(PathFileName("dir/").Text(), "");
    EXPECT_STREQ(PathFileName(nullptr).Text(), "");
}

} // namespace
} // namespace quarn
