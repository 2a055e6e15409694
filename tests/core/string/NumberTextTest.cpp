#include "core/string/NumberText.h"

#include <clocale>
#include <cstdint>
#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(NumberText, SignedDecimalClampsToThe32BitLimits) {
    EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseInt32("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParseInt32("-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseInt32("  \t-17xyz"), -17);
    EXPECT_EQ(ParseInt32("+5"), 5);
    EXPECT_EQ(ParseInt32(nullptr), 0);
}

TEST(NumberText, ParsersReportWhereTheyStopped) {
    const char* text = " 12abc";
    const char* end = nullptr;
    ParseInt32(text, &end);
    EXPECT_EQ(end, text + 3);
    ParseInt32("-", &end);
    EXPECT_STREQ(end, "-");
    ParseHex32("0xZ", &end);
    EXPECT_STREQ(end, "xZ") << "the 0 is a number, the x is not";
    ParseDouble("2.5e3,", &end);
    EXPECT_STREQ(end, ",");
}

TEST(NumberText, UnsignedDecimalAndHexadecimalKeepAll32Bits) {
    EXPECT_EQ(ParseUInt32("2684420100"), 0xA0010004u); // an id with port 10
    EXPECT_EQ(ParseUInt32("4294967296"), 0xFFFFFFFFu);
    // The same id once written signed reads back as itself.
    EXPECT_EQ(ParseUInt32("-1610547196"), 0xA0010004u);
    EXPECT_EQ(ParseHex32("80808080"), 0x80808080u);
    EXPECT_EQ(ParseHex32("0XffFFffFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHex32("1FFFFFFFF"), 0xFFFFFFFFu);
}

// What each parser would pass over: nothing for a text that is one number and blanks.
TEST(NumberText, MistakesNameWhatAParserPassesOverOrClamps) {
    const char* const notWhole = "is not a whole number";
    const char* const notNumber = "is not a number";
    const char* const notHex = "is not a hexadecimal number";
    const struct {
        const char* (*find)(const char*);
        const char* text;
        const char* mistake; // null: none
    } cases[] = {
        {FindInt32Mistake, " -17\t", nullptr},
        {FindInt32Mistake, "-2147483648", nullptr},
        {FindInt32Mistake, "2147483648", "is beyond the range of a 32-bit whole number"},
        {FindInt32Mistake, "-99999999999999999999999",
         "is beyond the range of a 32-bit whole number"},
        {FindInt32Mistake, "12abc", notWhole},
        {FindInt32Mistake, "", notWhole},
        {FindFloatMistake, "1e-3 ", nullptr},
        {FindFloatMistake, "-inf", nullptr},
        {FindFloatMistake, "1e39", "is beyond the range of a 32-bit float"},
        {FindFloatMistake, "0.5f", notNumber},
        {FindHex32Mistake, "FF203040", nullptr},
        {FindHex32Mistake, "0x000000FF203040", nullptr},
        {FindHex32Mistake, "1FF203040", "is beyond the range of a 32-bit number"},
        {FindHex32Mistake, "#FF0000", notHex},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.find(c.text), c.mistake) << c.text;
    }
}

TEST(NumberText, FloatsReadTheSameInEveryLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    // A locale with a decimal comma, where one is installed; the C locale otherwise.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        std::setlocale(LC_NUMERIC, "C");
    }
    EXPECT_FLOAT_EQ(ParseFloat("2.5"), 2.5f);
    EXPECT_FLOAT_EQ(ParseFloat("-1e-3"), -0.001f);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

} // namespace
} // namespace quarn
