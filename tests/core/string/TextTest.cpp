#include "core/string/Text.h"

#include "core/string/TextArena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(FormatTemp, ResultLivesUntilTheNextButOneCall) {
    const char* first = FormatTemp("first %d", 1);
    const char* second = FormatTemp("%s and second", first);
    EXPECT_STREQ(second, "first 1 and second");
    EXPECT_STREQ(first, "first 1") << "the next call must not touch the previous result";
    const char* third = FormatTemp("third");
    EXPECT_EQ(third, first) << "the next-but-one call reuses the buffer";
    EXPECT_STREQ(second, "first 1 and second");
}

TEST(FormatTemp, ResultsAreArenaTextsCutAt4095Characters) {
    const char* text = FormatTemp("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(std::strlen(text), 4095u);
    EXPECT_NE(TextWordOf(text), 0u);
    EXPECT_EQ(LookupText(TextWordOf(text)), text);
}

TEST(StringFormat, FormatsWholeTextsAndTheSharedBufferIsReused) {
    EXPECT_EQ(StringFormat("%s-%03d", "id", 7), "id-007");
    EXPECT_EQ(StringFormat("%s", std::string(70000, 'y').c_str()).size(), 65535u);
    const char* shared = StringFormatShared("%d", 1);
    EXPECT_EQ(StringFormatShared("%d", 2), shared);
    EXPECT_STREQ(shared, "2");
}

TEST(BoundedCopy, KeepsWithinTheCapacityAndAlwaysTerminates) {
    char buffer[10];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(StringAppendBounded(buffer, "1234567", 0, sizeof buffer), 7u);
    EXPECT_EQ(StringAppendBounded(buffer, "12345", 7, sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "123456712");

    EXPECT_EQ(StrCopyBounded(buffer, "abcdefghijklmnop", sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "abcdefghi");
    EXPECT_EQ(StrCopyBounded(buffer, "ab", sizeof buffer), 2u);
    EXPECT_EQ(StrAppendBounded(buffer, "cdefghijkl", sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "abcdefghi");
    EXPECT_EQ(StrCopyBounded(buffer, nullptr, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(SplitAtDelimiters, EmptyPartsCountAndTheLimitsHold) {
    char a[11], b[11], c[11];
    char* outputs[] = {a, b, c};
    ASSERT_EQ(SplitAtDelimiters("a,,b", ",", outputs, 3, 10), 3);
    EXPECT_STREQ(a, "a");
    EXPECT_STREQ(b, "");
    EXPECT_STREQ(c, "b");

    ASSERT_EQ(SplitAtDelimiters("a,,b", ",", outputs, 2, 10), 2);
    EXPECT_STREQ(a, "a");
    EXPECT_STREQ(b, "");

    ASSERT_EQ(SplitAtDelimiters("abcdefghijklmn;x y", "; ", outputs, 3, 10), 3);
    EXPECT_STREQ(a, "abcdefghij");
    EXPECT_STREQ(b, "x");
    EXPECT_STREQ(c, "y");

    EXPECT_EQ(SplitAtDelimiters("a,", ",", outputs, 3, 10), 1);
    EXPECT_EQ(SplitAtDelimiters(nullptr, ",", outputs, 3, 10), 0);
    EXPECT_EQ(SplitAtDelimiters("a", ",", outputs, 0, 10), 0);
}

TEST(ParseNumberLists, ReadEachPartAndMissingPartsAsZero) {
    Float3 f = ParseFloat3("1,2.5,-3", ",");
    EXPECT_EQ(f.x, 1.0f);
    EXPECT_EQ(f.y, 2.5f);
    EXPECT_EQ(f.z, -3.0f);

    Float4 q = ParseFloat4("0.5 0.25 1 -1", " ");
    EXPECT_EQ(q.x, 0.5f);
    EXPECT_EQ(q.w, -1.0f);

    Int3 i = ParseInt3("3,99999999999,-7", ",");
    EXPECT_EQ(i.x, 3);
    EXPECT_EQ(i.y, INT32_MAX);
    EXPECT_EQ(i.z, -7);

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
    EXPECT_EQ(CompareNoCase("Data.ZOO", "data.zoo"), 0);
    EXPECT_EQ(CompareNoCase("abc", "ABD"), -1);
    EXPECT_EQ(CompareNoCase("b", "A"), 1);
    EXPECT_EQ(CompareNoCase("ab", "abc"), -1);
    EXPECT_EQ(CompareNoCase(nullptr, "a"), 1);
    EXPECT_EQ(CompareNoCase("a", nullptr), 1);
    // Bytes above 0x7F are not letters and compare above ASCII.
    EXPECT_EQ(CompareNoCase("\xC4", "\xE4"), -1);
    EXPECT_EQ(CompareNoCase("\xE4", "a"), 1);

    char text[] = "MiXeD \xC4 Case";
    ToLowerAscii(text);
    EXPECT_STREQ(text, "mixed \xC4 case");

    const char* path = "Data.ZOO/x";
    EXPECT_EQ(FindNoCase(path, ".zoo/"), path + 4);
    EXPECT_EQ(FindNoCase(path, ".zip/"), nullptr);
    EXPECT_EQ(FindNoCase("", ""), nullptr);
    EXPECT_EQ(FindNoCase("ab", "abc"), nullptr);

    EXPECT_EQ(FindFirstOf(path, "/."), path + 4);
    EXPECT_EQ(FindFirstOf(path, "#"), nullptr);
}

TEST(CharacterEdits, RemoveReplaceAndNewlines) {
    char text[] = "a-b-c";
    ReplaceChar(text, '-', '+');
    EXPECT_STREQ(text, "a+b+c");
    RemoveCharInPlace(text, '+');
    EXPECT_STREQ(text, "abc");

    std::string s = "x.y.z";
    RemoveCharFromString(s, '.');
    EXPECT_EQ(s, "xyz");

    EXPECT_EQ(RemoveCarriageReturns("l1\r\nl2\r\n"), "l1\nl2\n");
    EXPECT_EQ(ExpandNewlines("l1\nl2\n"), "l1\r\nl2\r\n");
    EXPECT_EQ(RemoveCarriageReturns(ExpandNewlines("a\nb").c_str()), "a\nb");
}

TEST(UnescapeString, TurnsTheFourPairsAndKeepsOthers) {
    EXPECT_EQ(UnescapeString(R"(say \"hi\"\n\tC:\\dir)"), "say \"hi\"\n\tC:\\dir");
    EXPECT_EQ(UnescapeString(R"(a\qb)"), R"(a\qb)");
    EXPECT_EQ(UnescapeString("trailing\\"), "trailing\\");
    EXPECT_EQ(UnescapeString(""), "");
    EXPECT_EQ(UnescapeString(nullptr), "");
}

TEST(StringWordSum, SumsLittleEndianWordsWithTheLastOneMasked) {
    EXPECT_EQ(StringWordSum("abc"), 6513249u);
    EXPECT_EQ(StringWordSum("abcd"), 1684234849u);
    EXPECT_EQ(StringWordSum("abcde"), 1684234950u);
    EXPECT_EQ(StringWordSum(""), 0u);
    EXPECT_EQ(StringWordSum(nullptr), 0u);
    // High bytes count as unsigned and the sum wraps modulo 2^32.
    EXPECT_EQ(StringWordSum("\xFF\xFF\xFF\xFF\x02"), 1u);
}

TEST(SplitPath, SplitsFolderNameAndExtension) {
    std::string folder = "untouched", name = "untouched", extension = "untouched";
    SplitPath("a/b/c.tga", &folder, &name, &extension);
    EXPECT_EQ(folder, "a/b/");
    EXPECT_EQ(name, "c");
    EXPECT_EQ(extension, "tga");

    SplitPath("dir\\file.tar.gz", &folder, &name, &extension);
    EXPECT_EQ(folder, "dir\\");
    EXPECT_EQ(name, "file.tar");
    EXPECT_EQ(extension, "gz");

    SplitPath("noext", &folder, &name, &extension);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "noext");
    EXPECT_EQ(extension, "");

    SplitPath("", &folder, &name, &extension);
    EXPECT_EQ(name, "noext") << "an empty path writes nothing";
}

TEST(SplitPath, ADotInAFolderNameIsNoExtension) {
    std::string folder, name, extension;
    SplitPath("x.dir/file", &folder, &name, &extension);
    EXPECT_EQ(folder, "x.dir/");
    EXPECT_EQ(name, "file");
    EXPECT_EQ(extension, "");
    EXPECT_EQ(ReplaceExtension("x.dir/file", "png"), "x.dir/file.png");
    EXPECT_STREQ(FindExtension("x.dir/file"), "");
    EXPECT_STREQ(FindExtension("x.dir\\file.raw"), ".raw");
}

TEST(PathHelpers, BuildTheirTexts) {
    EXPECT_EQ(GetPathFolder("tex/wall.png"), "tex/");
    EXPECT_EQ(GetPathName("tex/wall.png"), "wall");
    EXPECT_EQ(GetPathExtension("tex/wall.PNG"), "PNG");
    EXPECT_EQ(ReplaceExtension("tex/wall.png", "dds"), "tex/wall.dds");
    EXPECT_EQ(MakePrefixedFileName("tex\\wall.png"), "tex/A_wall.png");
    EXPECT_EQ(MakePrefixedFileName("wall.png"), "A_wall.png");
    EXPECT_STREQ(FindExtension("a.b.c"), ".c");
    EXPECT_STREQ(FindExtension("abc"), "");
}

} // namespace
} // namespace quarn
