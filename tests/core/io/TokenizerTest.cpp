#include "core/io/Tokenizer.h"

#include "core/io/BufferFile.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <utility>

namespace quarn {
namespace {

// The tokens up to the end as "kind:text ", a named kind by its name, then "end".
std::string TokensOf(File& file, Tokenizer& tokenizer) {
    static const std::map<int32_t, std::string> names = {
        {TokenIdentifier, "id"}, {TokenNumber, "num"}, {TokenString, "str"}, {TokenNewline, "nl"}};
    std::string shown;
    for (int32_t kind = tokenizer.Next(file), n = 0; kind != TokenEnd && n < 100;
         kind = tokenizer.Next(file), ++n) {
        const auto name = names.find(kind);
        shown += (name != names.end() ? name->second : std::to_string(kind)) + ":" +
                 tokenizer.GetText() + " ";
    }
    return shown + "end";
}

std::string TokensOf(const char* text, const TokenTable* table = nullptr) {
    TextFile file(text);
    Tokenizer tokenizer(table);
    return TokensOf(file, tokenizer);
}

template <size_t N>
std::string TokensOfBytes(const unsigned char (&bytes)[N]) {
    BufferFile file(bytes, N);
    Tokenizer tokenizer;
    return TokensOf(file, tokenizer);
}

// Two-byte operators beside one-byte ones, as the script vocabulary has them.
TokenTable OperatorTable() {
    TokenTable table;
    table.Add(300, "==");
    table.Add(301, "="); // a one-byte entry still reads as its byte
    table.Add(302, "<<");
    table.Add(303, "<=");
    table.Add(310, "if");
    return table;
}

TEST(Tokenizer, PlainTokensEndWhereTheirKindEnds) {
    TextFile lines("a\r\n\nb");
    Tokenizer newlines;
    newlines.SetDelimiters(" \t\r");
    EXPECT_EQ(TokensOf(lines, newlines), "id:a nl:\n nl:\n id:b end")
        << "a line feed not delimiting";
    EXPECT_EQ(TokensOf("obj12 {"), "id:obj12 123:{ end");
    EXPECT_EQ(TokensOf("_a1=2"), "id:_a1 61:= num:2 end");
    // Numbers take hex letters but never a sign.
    EXPECT_EQ(TokensOf("-3.5 0x1F 12e5g"), "45:- num:3.5 num:0x1F num:12e5 id:g end");
    // Strings keep blanks and have no escapes.
    EXPECT_EQ(TokensOf("\"a b\" \"\" \"x\\\"y\"open"), "str:a b str: str:x\\ id:y str:open end");
    // A text source delivers 0xE9 as -23; the kind must still be unsigned.
    EXPECT_EQ(TokensOf("caf\xE9"), "id:caf 233:\xE9 end");
    const unsigned char nul[] = {'a', '\0', 'b'};
    EXPECT_EQ(TokensOfBytes(nul), "id:a id:b end");
}

TEST(Tokenizer, A0xFFByteEndsTheInputForGoodWhereverItIs) {
    TextFile text("A\xFF"
                  "B");
    Tokenizer tokenizer;
    EXPECT_EQ(tokenizer.Next(text), TokenIdentifier);
    EXPECT_EQ(tokenizer.Next(text), TokenEnd);
    EXPECT_EQ(tokenizer.Next(text), TokenEnd) << "nothing after 0xFF may be read";
    const unsigned char brace[] = {'{', 0xFF, '}'};
    EXPECT_EQ(TokensOfBytes(brace), "123:{ end");
    const unsigned char number[] = {'1', '2', 0xFF, '3'};
    EXPECT_EQ(TokensOfBytes(number), "num:12 end");
    EXPECT_EQ(TokensOf("\"ab\xFF"
                       "cd\""),
              "str:ab end");
    const TokenTable table = OperatorTable();
    EXPECT_EQ(TokensOf("=\xFF=", &table), "61:= end");
}

TEST(Tokenizer, TableKeywordsMatchWholeIdentifiersLongerOperatorsWinAndFailuresStepBack) {
    const TokenTable table = OperatorTable();
    EXPECT_EQ(TokensOf("if iffy IF", &table), "310:if id:iffy id:IF end");
    EXPECT_EQ(TokensOf("== =x << <= <", &table), "300:== 61:= id:x 302:<< 303:<= 60:< end");
    // A failed match steps back every byte read ahead.
    TokenTable longer;
    longer.Add(400, "<<=");
    longer.Add(401, "<<>");
    EXPECT_EQ(TokensOf("<<= <<x <<", &longer), "400:<<= 60:< 60:< id:x 60:< 60:< end");
}

TEST(Tokenizer, KeyLinesSkipCommentLinesAndKeepTheRestOfTheLine) {
    TextFile file("# ncols = 3\n  # x\nncols = 640\r\nname=\"a b\"\n# last\n");
    Tokenizer tokenizer;
    std::string value;
    EXPECT_TRUE(tokenizer.ReadLineSkippingComments(value, file));
    EXPECT_EQ(value, " 640");
    EXPECT_TRUE(tokenizer.ReadLineSkippingComments(value, file));
    EXPECT_EQ(value, "\"a b\"");
    EXPECT_FALSE(tokenizer.ReadLineSkippingComments(value, file));
    EXPECT_EQ(value, "");
}

// Only the high half counts: a low half of 2, or a class above or below, is no class 2.
TEST(TokenCodes, ClassTwoIsReadFromTheHighHalfOnly) {
    const std::pair<uint32_t, bool> cases[] = {
        {0x00020000u, true}, {0x0002FFFFu, true}, {0x00000002u, false},
        {0x00010002u, false}, {0x00030000u, false}, {0x80020000u, false},
    };
    for (const auto& [code, classTwo] : cases) {
        EXPECT_EQ(IsClass2Code(code), classTwo) << std::hex << code;
    }
}

} // namespace
} // namespace quarn
