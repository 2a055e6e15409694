#include "core/string/Text.h"

#include "core/string/TextArena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(FormatTemp, ResultLivesUntilTheNextButOneCallAndIsAnArenaTextCutAt4095) {
    const char* first = FormatTemp("first %d", 1);
    const char* second = FormatTemp("%s and second", first);
    EXPECT_STREQ(second, "first 1 and second");
    EXPECT_STREQ(first, "first 1") << "the next call must not touch the previous result";
    const char* third = FormatTemp("third");
    EXPECT_EQ(third, first) << "the next-but-one call reuses the buffer";
    EXPECT_STREQ(second, "first 1 and second");
    const char* text = FormatTemp("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(std::strlen(text), 4095u);
    EXPECT_NE(TextWordOf(text), 0u);
    EXPECT_EQ(LookupText(TextWordOf(text)), text);
}

// Short texts, texts past the first small buffer, and the cut at the shared buffer's size.
TEST(StringFormat, FormatsWholeTextsUpToTheSharedBuffersSize) {
    EXPECT_EQ(StringFormat("%s-%03d", "id", 7), "id-007");
    EXPECT_EQ(StringFormat("%s", std::string(300, 'x').c_str()), std::string(300, 'x'));
    EXPECT_EQ(StringFormat("%s", std::string(70000, 'y').c_str()).size(), 65535u);
}

TEST(BoundedCopy, KeepsWithinTheCapacityAndAlwaysTerminates) {
    char buffer[10];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(StrCopyBounded(buffer, "abcdefghijklmnop", sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "abcdefghi");
    EXPECT_EQ(StrCopyBounded(buffer, nullptr, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(ParseNumberLists, ReadEachPartAndMissingPartsAsZero) {
    Float3 f = ParseFloat3("1,2.5,-3", ",");
    EXPECT_FALSE(f != Float3(1.0f, 2.5f, -3.0f));
    Float4 q = ParseFloat4("0.5 0.25 1 -1", " ");
    EXPECT_FALSE(q != Float4(0.5f, 0.25f, 1.0f, -1.0f));
    EXPECT_TRUE(ParseInt3("3,99999999999,-7", ",").Equals(Int3(3, INT32_MAX, -7)));
    // Parts the text lacks read as 0, whatever an earlier parse left behind.
    ParseInt2("11,22", ",");
    Int2 partial = ParseInt2("5", ",");
    EXPECT_EQ(partial.x, 5);
    EXPECT_EQ(partial.y, 0);
    Float2 none = ParseFloat2(nullptr, ",");
    EXPECT_EQ(none.x, 0.0f);
    EXPECT_EQ(none.y, 0.0f);
}

TEST(CaseAndSearch, FoldOnlyAsciiLetters) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } comparisons[] = {
        {"Data.ZOO", "data.zoo", 0},
        {"b", "A", 1},
        {nullptr, "a", 1},
        // Bytes above 0x7F are not letters and compare above ASCII.
        {"\xC4", "\xE4", -1},
        {"\xE4", "a", 1},
    };
    for (const auto& c : comparisons) {
        EXPECT_EQ(CompareNoCase(c.a, c.b), c.order)
            << (c.a ? c.a : "null") << " " << (c.b ? c.b : "null");
    }
    char text[] = "MiXeD \xC4 Case";
    ToLowerAscii(text);
    EXPECT_STREQ(text, "mixed \xC4 case");
    const char* path = "Data.ZOO/x";
    EXPECT_EQ(FindNoCase(path, ".zoo/"), path + 4);
    EXPECT_EQ(FindNoCase("ab", "abc"), nullptr);
}

TEST(SplitPath, SplitsFolderNameAndExtensionTakingTheExtensionFromTheNameOnly) {
    const struct {
        const char* path;
        const char* folder;
        const char* name;
        const char* extension;
    } cases[] = {
        {"a/b/c.tga", "a/b/", "c", "tga"}, {"dir\\file.tar.gz", "dir\\", "file.tar", "gz"},
        {"noext", "", "noext", ""},        {"x.dir/file", "x.dir/", "file", ""},
        {"", "x.dir/", "file", ""}, // an empty path writes nothing
    };
    std::string folder, name, extension;
    for (const auto& c : cases) {
        SplitPath(c.path, &folder, &name, &extension);
        EXPECT_EQ(folder + "|" + name + "|" + extension,
                  std::string(c.folder) + "|" + c.name + "|" + c.extension)
            << c.path;
    }
    EXPECT_EQ(ReplaceExtension("x.dir/file", "png"), "x.dir/file.png");
    EXPECT_STREQ(FindExtension("x.dir/file"), "");
    EXPECT_STREQ(FindExtension("x.dir\\file.raw"), ".raw");
    EXPECT_EQ(MakePrefixedFileName("tex\\wall.png"), "tex/A_wall.png");
}

} // namespace
} // namespace quarn
