#include "core/object/ValueType.h"

#include "core/object/ClassInfo.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// Value words that ParseTypedValue must not touch keep this.
constexpr uint32_t Untouched = 0xDEADBEEF;

struct Words {
    uint32_t w[MaxValueWords];
    Words() { std::fill(std::begin(w), std::end(w), Untouched); }
};

// Compiled scripts depend on every number here.
TEST(ValueTypeTest, TableNamesAndWordsRoundTrip) {
    const struct {
        const char* name;
        int32_t words;
        int32_t scalarKind;
    } table[] = {
        {"void", 0, 0},      {"int", 1, 0},        {"float", 1, 0},     {"bool", 1, 0},
        {"char", 1, 0},      {"int2", 2, 1},       {"float2", 2, 2},    {"int3", 3, 1},
        {"float3", 3, 2},    {"quaternion", 4, 2}, {"entity", 1, 0},    {"string", 1, 4},
        {"class", 1, 0},     {"function", 1, 0},   {"operator", 0, 0},  {"array", 0, 0},
        {"classtype", 1, 0}, {"vref", 1, 0},       {"string64", 16, 4},
    };
    for (int32_t id = 0; id < 19; ++id) {
        EXPECT_STREQ(GetTypeName(id), table[id].name);
        EXPECT_EQ(GetTypeByName(table[id].name), id);
        EXPECT_EQ(GetTypeWordCount(id), table[id].words) << id;
        EXPECT_EQ(GetTypeScalarKind(id), table[id].scalarKind) << id;
    }
}

TEST(ValueTypeTest, String64HasASecondIdAndOtherIdsNameNothing) {
    EXPECT_STREQ(GetTypeName(TypeString64Alias), "string64");
    EXPECT_EQ(GetTypeWordCount(TypeString64Alias), 16);
    EXPECT_STREQ(GetTypeName(19), "Unknown");
    EXPECT_STREQ(GetTypeName(0xFFFF), "Unknown");
    EXPECT_EQ(GetTypeWordCount(19), 0);
    // A class number that names no class still has a class type's one word.
    const int32_t noClass = ClassTypeBase + GetClassCount() + 100;
    EXPECT_STREQ(GetTypeName(noClass), "Unknown");
    EXPECT_EQ(GetTypeWordCount(noClass), 1);
}

TEST(ValueTypeTest, ExactClassNamesGiveClassTypes) {
    ClassInfo record("ValueTypeTestClass", nullptr, nullptr);
    const int32_t type = GetTypeByName("ValueTypeTestClass");
    EXPECT_EQ(type, ClassTypeBase + record.GetClassNumber());
    EXPECT_STREQ(GetTypeName(type), "ValueTypeTestClass");
    EXPECT_EQ(GetTypeByName("valuetypetestclass"), TypeVoid);
    EXPECT_EQ(GetTypeByName("Int"), TypeVoid);
    EXPECT_EQ(GetTypeByName(nullptr), TypeVoid);
}

TEST(ValueTypeTest, ClassTypeNamesSurviveAnEarlierClassGoing) {
    auto first = std::make_unique<ClassInfo>("ValueTypeTestFirst", nullptr, nullptr);
    ClassInfo second("ValueTypeTestSecond", nullptr, nullptr);
    const int32_t type = ClassTypeBase + second.GetClassNumber();
    first.reset();
    EXPECT_STREQ(GetTypeName(type), "ValueTypeTestSecond");
}

TEST(ParseTypedValueTest, ScalarsReadTheirNumberClamped) {
    Words out;
    EXPECT_TRUE(ParseTypedValue(TypeInt, " -42xyz", out.w));
    EXPECT_EQ(static_cast<int32_t>(out.w[0]), -42);
    EXPECT_EQ(out.w[1], Untouched);
    EXPECT_TRUE(ParseTypedValue(TypeFloat, "2.5", out.w));
    EXPECT_EQ(WordToFloat(out.w[0]), 2.5f);
    EXPECT_TRUE(ParseTypedValue(ClassTypeBase + 4, "9", out.w));
    EXPECT_EQ(out.w[0], 9u);
    ParseTypedValue(TypeInt, "4294967296", out.w);
    EXPECT_EQ(static_cast<int32_t>(out.w[0]), INT32_MAX);
    ParseTypedValue(TypeEntity, "-2147483649", out.w);
    EXPECT_EQ(static_cast<int32_t>(out.w[0]), INT32_MIN);
}

TEST(ParseTypedValueTest, CharIsTheFirstByteSignExtended) {
    Words out;
    ParseTypedValue(TypeChar, "\xE9t\xE9", out.w);
    EXPECT_EQ(static_cast<int32_t>(out.w[0]), -23);
    ParseTypedValue(TypeChar, "", out.w);
    EXPECT_EQ(out.w[0], 0u);
}

TEST(ParseTypedValueTest, VectorsSplitAtBlanksAndCommasAndNeedEveryPart) {
    Words out;
    EXPECT_TRUE(ParseTypedValue(TypeInt2, "5,6", out.w));
    EXPECT_EQ(out.w[1], 6u);
    EXPECT_TRUE(ParseTypedValue(TypeInt3, "1 -2 3", out.w));
    EXPECT_EQ(static_cast<int32_t>(out.w[1]), -2);
    EXPECT_TRUE(ParseTypedValue(TypeQuaternion, "0 0 0 1", out.w));
    EXPECT_EQ(WordToFloat(out.w[3]), 1.0f);
    // The blank after the comma ends an empty second part.
    EXPECT_TRUE(ParseTypedValue(TypeInt2, "3, 4", out.w));
    EXPECT_EQ(out.w[1], 0u);

    Words few;
    EXPECT_FALSE(ParseTypedValue(TypeInt2, "7", few.w));
    EXPECT_EQ(few.w[0], 7u);
    EXPECT_EQ(few.w[1], Untouched);
    EXPECT_FALSE(ParseTypedValue(TypeQuaternion, "0 0 1", few.w));
    Words empty;
    EXPECT_FALSE(ParseTypedValue(TypeFloat3, "", empty.w));
    EXPECT_EQ(empty.w[0], Untouched);
}

TEST(ParseTypedValueTest, OpeningParenthesisSpoilsTheFirstPart) {
    Words out;
    EXPECT_TRUE(ParseTypedValue(TypeFloat3, "(1,2,3)", out.w));
    EXPECT_EQ(WordToFloat(out.w[0]), 0.0f);
    EXPECT_EQ(WordToFloat(out.w[2]), 3.0f);
    EXPECT_EQ(out.w[3], Untouched);
}

TEST(ParseTypedValueTest, ListPartsAreCutTo63Characters) {
    // 70 digits: cut to 63 they still overflow, but the 64th character would be the '5'.
    const std::string longPart = std::string(62, '0') + "15" + std::string(6, '0');
    uint32_t out[2] = {};
    EXPECT_EQ(ParseIntList((longPart + " 8").c_str(), 2, out), 2);
    EXPECT_EQ(out[0], 1u);
    EXPECT_EQ(out[1], 8u);
}

TEST(ParseTypedValueTest, StringKeepsAnArenaWordAndCopiesOtherTextsForGood) {
    const TextWord word = StoreText("arena text");
    Words out;
    EXPECT_TRUE(ParseTypedValue(TypeString, LookupText(word), out.w));
    EXPECT_EQ(out.w[0], word);

    std::string outside = "script default";
    EXPECT_TRUE(ParseTypedValue(TypeString, outside.c_str(), out.w));
    outside[0] = 'X';
    // More than the whole temporary ring: a copy there would be overwritten.
    const std::string filler(1000, 'f');
    for (int i = 0; i < 80; ++i) {
        PutTempString(filler);
    }
    EXPECT_STREQ(LookupText(out.w[0]), "script default");
}

TEST(ParseTypedValueTest, TypesWithoutTextFormWriteNothing) {
    for (int32_t type :
         std::initializer_list<int32_t>{TypeVoid, TypeArray, TypeString64, TypeString64Alias,
                                        TypeClass, TypeFunction, TypeVref, 19}) {
        Words out;
        EXPECT_TRUE(ParseTypedValue(type, "12 text", out.w)) << type;
        EXPECT_EQ(out.w[0], Untouched) << type;
    }
}

} // namespace
} // namespace quarn
