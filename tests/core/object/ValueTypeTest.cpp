#include "core/object/ValueType.h"

#include "core/object/ClassInfo.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

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
    // string64 has a second id; other ids name nothing.
    EXPECT_STREQ(GetTypeName(TypeString64Alias), "string64");
    EXPECT_EQ(GetTypeWordCount(TypeString64Alias), 16);
    EXPECT_STREQ(GetTypeName(19), "Unknown");
    EXPECT_EQ(GetTypeWordCount(19), 0);
}

TEST(ValueTypeTest, ExactClassNamesGiveClassTypesThatSurviveAnEarlierClassGoing) {
    auto first = std::make_unique<ClassInfo>("ValueTypeTestFirst", nullptr, nullptr);
    ClassInfo record("ValueTypeTestClass", nullptr, nullptr);
    const int32_t type = GetTypeByName("ValueTypeTestClass");
    EXPECT_EQ(type, ClassTypeBase + record.GetClassNumber());
    first.reset();
    EXPECT_STREQ(GetTypeName(type), "ValueTypeTestClass");
    EXPECT_EQ(GetTypeByName("valuetypetestclass"), TypeVoid);
    EXPECT_EQ(GetTypeByName(nullptr), TypeVoid);
    // A class number that names no class still has a class type's one word.
    const int32_t noClass = ClassTypeBase + GetClassCount() + 100;
    EXPECT_STREQ(GetTypeName(noClass), "Unknown");
    EXPECT_EQ(GetTypeWordCount(noClass), 1);
}

TEST(ParseTypedValueTest, EachTypeReadsItsPartsClampedAndWritesNoMoreWords) {
    const auto f = [](float value) { return FloatToWord(value); };
    const auto i = [](int32_t value) { return static_cast<uint32_t>(value); };
    const struct {
        int32_t type;
        const char* text;
        bool parsed;
        std::vector<uint32_t> words; // the words after them are left alone
    } cases[] = {
        {TypeInt, " -42xyz", true, {i(-42)}},
        {ClassTypeBase + 4, "9", true, {9}},
        {TypeInt, "4294967296", true, {i(INT32_MAX)}},
        {TypeEntity, "-2147483649", true, {i(INT32_MIN)}},
        {TypeChar, "\xE9t\xE9", true, {i(-23)}}, // the first byte, sign-extended
        {TypeChar, "", true, {0}},
        {TypeInt2, "5,6", true, {5, 6}},
        {TypeInt3, "1 -2 3", true, {1, i(-2), 3}},
        {TypeInt2, "3, 4", true, {3, 0}}, // the blank after the comma ends an empty part
        {TypeFloat3, "(1,2,3)", true, {0, f(2.0f), f(3.0f)}}, // '(' spoils the first part
        {TypeInt2, "7", false, {7}},
        {TypeFloat3, "", false, {}},
    };
    for (const auto& c : cases) {
        Words out;
        EXPECT_EQ(ParseTypedValue(c.type, c.text, out.w), c.parsed) << c.text;
        for (size_t word = 0; word < 4; ++word) {
            const uint32_t expected = word < c.words.size() ? c.words[word] : Untouched;
            EXPECT_EQ(out.w[word], expected) << c.text << " word " << word;
        }
    }
    Words few;
    EXPECT_FALSE(ParseTypedValue(TypeQuaternion, "0 0 1", few.w));
    for (int32_t type :
         std::initializer_list<int32_t>{TypeVoid, TypeArray, TypeString64, TypeString64Alias,
                                        TypeClass, TypeFunction, TypeVref, 19}) {
        Words out;
        EXPECT_TRUE(ParseTypedValue(type, "12 text", out.w)) << type;
        EXPECT_EQ(out.w[0], Untouched) << type;
    }
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

} // namespace
} // namespace quarn
