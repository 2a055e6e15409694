#include "core/Tokenizer.h"

#include "core/BufferFile.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using Token = std::pair<int32_t, std::string>;

// Every token up to and including the first end.
std::vector<Token> TokensOf(File& file, Tokenizer& tokenizer) {
    std::vector<Token> tokens;
    for (int guard = 0; guard < 100; ++guard) {
        int32_t kind = tokenizer.Next(file);
        tokens.emplace_back(kind, tokenizer.GetText());
        if (kind == TokenEnd) {
            break;
        }
    }
    return tokens;
}

std::vector<Token> TokensOf(const char* text, const TokenTable* table = nullptr) {
    TextFile file(text);
    Tokenizer tokenizer(table);
    return TokensOf(file, tokenizer);
}

// Two-byte operators beside a one-byte one, as the script vocabulary has them.
TokenTable OperatorTable() {
    TokenTable table;
    table.Add(300, "==");
    table.Add(301, "=");
    table.Add(302, "<<");
    table.Add(303, "<=");
    table.Add(310, "if");
    return table;
}

// Plain tokens -----------------------------------------------------------------------------

TEST(Tokenizer, IdentifierStopsAtTheFirstOtherByte) {
    std::vector<Token> expected{{TokenIdentifier, "obj12"}, {'{', "{"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("obj12 {"), expected);
    std::vector<Token> glued{
        {TokenIdentifier, "_a1"}, {'=', "="}, {TokenNumber, "2"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("_a1=2"), glued);
}

TEST(Tokenizer, NumbersTakeHexLettersButNeverASign) {
    std::vector<Token> expected{{'-', "-"},
                                {TokenNumber, "3.5"},
                                {TokenNumber, "0x1F"},
                                {TokenNumber, "12e5"},
                                {TokenIdentifier, "g"},
                                {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("-3.5 0x1F 12e5g"), expected);
}

TEST(Tokenizer, QuotedStringsKeepBlanksAndHaveNoEscapes) {
    std::vector<Token> expected{{TokenString, "a b"},   {TokenString, ""},     {TokenString, "x\\"},
                                {TokenIdentifier, "y"}, {TokenString, "open"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("\"a b\" \"\" \"x\\\"y\"open"), expected);
}

TEST(Tokenizer, BytesFrom0x80AreSingleTokensWithUnsignedKinds) {
    std::vector<Token> expected{{TokenIdentifier, "caf"}, {0xE9, "\xE9"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("caf\xE9"), expected) << "a text source delivers 0xE9 as -23";
}

TEST(Tokenizer, NulSeparatesTokens) {
    const char data[] = {'a', '\0', 'b'};
    BufferFile file(data, sizeof data);
    Tokenizer tokenizer;
    std::vector<Token> expected{{TokenIdentifier, "a"}, {TokenIdentifier, "b"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf(file, tokenizer), expected);
}

TEST(Tokenizer, LineFeedIsATokenWhenNotADelimiter) {
    TextFile file("a\r\n\nb");
    Tokenizer tokenizer;
    tokenizer.SetDelimiters(" \t\r");
    std::vector<Token> expected{{TokenIdentifier, "a"},
                                {TokenNewline, "\n"},
                                {TokenNewline, "\n"},
                                {TokenIdentifier, "b"},
                                {TokenEnd, ""}};
    EXPECT_EQ(TokensOf(file, tokenizer), expected);
}

// The end and 0xFF -------------------------------------------------------------------------

TEST(Tokenizer, A0xFFByteEndsTheInputForGood) {
    TextFile text("A\xFF"
                  "B");
    Tokenizer tokenizer;
    EXPECT_EQ(tokenizer.Next(text), TokenIdentifier);
    EXPECT_EQ(tokenizer.Next(text), TokenEnd);
    EXPECT_EQ(tokenizer.Next(text), TokenEnd) << "nothing after 0xFF may be read";

    const unsigned char bytes[] = {'{', 0xFF, '}'};
    BufferFile buffer(bytes, sizeof bytes);
    EXPECT_EQ(tokenizer.Next(buffer), '{');
    EXPECT_EQ(tokenizer.Next(buffer), TokenEnd);
    EXPECT_EQ(tokenizer.Next(buffer), TokenEnd);
}

TEST(Tokenizer, A0xFFByteEndsNumbersStringsAndOperatorReadAhead) {
    TokenTable table = OperatorTable();
    const unsigned char bytes[] = {'1', '2', 0xFF, '3'};
    BufferFile number(bytes, sizeof bytes);
    Tokenizer tokenizer(&table);
    EXPECT_EQ(tokenizer.Next(number), TokenNumber);
    EXPECT_EQ(tokenizer.GetText(), "12");
    EXPECT_EQ(tokenizer.Next(number), TokenEnd);

    std::vector<Token> string{{TokenString, "ab"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("\"ab\xFF"
                       "cd\""),
              string);

    std::vector<Token> operatorThenEnd{{'=', "="}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("=\xFF=", &table), operatorThenEnd);
}

// Table keywords and operators -------------------------------------------------------------

TEST(Tokenizer, TableKeywordsMatchWholeIdentifiersOnly) {
    TokenTable table = OperatorTable();
    std::vector<Token> expected{
        {310, "if"}, {TokenIdentifier, "iffy"}, {TokenIdentifier, "IF"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("if iffy IF", &table), expected);
}

TEST(Tokenizer, TwoByteOperatorBeatsItsOneBytePrefix) {
    TokenTable table = OperatorTable();
    std::vector<Token> expected{{300, "=="}, {'=', "="},    {TokenIdentifier, "x"},
                                {'=', "="},  {302, "<<"},   {303, "<="},
                                {'<', "<"},  {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("== =x = << <= <", &table), expected);
}

TEST(Tokenizer, FailedOperatorMatchStepsBackEveryByteReadAhead) {
    TokenTable table;
    table.Add(400, "<<=");
    table.Add(401, "<<>");
    std::vector<Token> expected{{400, "<<="}, {'<', "<"}, {'<', "<"},    {TokenIdentifier, "x"},
                                {'<', "<"},   {'<', "<"}, {TokenEnd, ""}};
    EXPECT_EQ(TokensOf("<<= <<x <<", &table), expected);
}

// SkipTo and key lines ---------------------------------------------------------------------

TEST(Tokenizer, SkipToStopsAtAGivenByteNulOrTheEnd) {
    TextFile file("obj { x = 1 ] } next");
    Tokenizer tokenizer;
    EXPECT_EQ(tokenizer.SkipTo(file, "]}"), ']');
    EXPECT_EQ(tokenizer.GetText(), "]");
    EXPECT_EQ(tokenizer.SkipTo(file, "}"), '}');
    EXPECT_EQ(tokenizer.Next(file), TokenIdentifier);
    EXPECT_EQ(tokenizer.GetText(), "next");
    EXPECT_EQ(tokenizer.SkipTo(file, "}"), TokenEnd);

    const char data[] = {'a', '\0', '}'};
    BufferFile buffer(data, sizeof data);
    EXPECT_EQ(tokenizer.SkipTo(buffer, "}"), 0);
    EXPECT_EQ(tokenizer.SkipTo(buffer, "}"), '}');
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

} // namespace
} // namespace quarn
