#include "core/PropertyText.h"

#include "core/Entity.h"
#include "core/TextArena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class Label : public Entity {
public:
    const char* GetText() const { return text_.c_str(); }
    void SetText(const char* text) { text_ = text; }

private:
    std::string text_;
};

// Keeps one 64-byte value for whatever descriptor asks: string64 descriptors have no accessors.
class Slot : public Entity {
public:
    void GetPropertyValue(const Property&, uint32_t* out) const override {
        std::memcpy(out, words, sizeof words);
    }
    void SetPropertyValue(const Property&, const uint32_t* value) override {
        std::memcpy(words, value, sizeof words);
        ++writes;
    }

    uint32_t words[16] = {};
    int writes = 0;
};

std::unique_ptr<PropertyString> LabelProperty() {
    auto property = std::make_unique<PropertyString>();
    property->Setup("text", "", MakeGetter<&Label::GetText>(), MakeSetter<&Label::SetText>());
    return property;
}

// PropertyString ----------------------------------------------------------------------------

TEST(PropertyStringTest, TextReachesTheObjectAndBack) {
    auto text = LabelProperty();
    Label label;
    EXPECT_EQ(text->SetFromText(label, "hello world"), 4);
    EXPECT_STREQ(label.GetText(), "hello world");
    EXPECT_EQ(text->GetAsText(label), "hello world");
}

TEST(PropertyStringTest, ArenaTextKeepsItsOwnWord) {
    PropertyString text;
    const TextWord word = StoreText("kept");
    uint32_t value = 0;
    text.Parse(LookupText(word), &value);
    EXPECT_EQ(value, word);
}

TEST(PropertyStringTest, OutsideTextBecomesAnArenaCopy) {
    PropertyString text;
    const std::string outside = "outside";
    uint32_t value = 0;
    text.Parse(outside.c_str(), &value);
    EXPECT_NE(value, 0u);
    EXPECT_NE(LookupText(value), outside.c_str());
    EXPECT_EQ(text.Print(&value), "outside");
}

TEST(PropertyStringTest, StorageSizeIsLengthPlusOne) {
    PropertyString text;
    const uint32_t word = StoreText("abc");
    EXPECT_EQ(text.GetStorageSize(&word), 4);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(text.StoreText(&word, buffer), 4);
    EXPECT_STREQ(buffer, "abc");
    const uint32_t none = 0;
    EXPECT_EQ(text.GetStorageSize(&none), 1);
}

TEST(PropertyStringTest, ValuesDifferGivesTheTextOrdering) {
    PropertyString text;
    const uint32_t apple = StoreText("apple");
    const uint32_t pear = StoreText("pear");
    const uint32_t apple2 = StoreText("apple");
    EXPECT_EQ(text.ValuesDiffer(&apple, &pear), -1);
    EXPECT_EQ(text.ValuesDiffer(&pear, &apple), 1);
    EXPECT_EQ(text.ValuesDiffer(&apple, &apple2), 0);
    uint32_t copy = 0;
    EXPECT_EQ(text.CopyValue(&pear, &copy), 4);
    EXPECT_EQ(copy, pear);
}

// PropertyString64 --------------------------------------------------------------------------

TEST(PropertyString64Test, TextLivesInTheValue) {
    PropertyString64 name;
    Slot slot;
    EXPECT_EQ(name.SetFromText(slot, "short"), 64);
    EXPECT_EQ(slot.writes, 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(slot.words), "short");
    EXPECT_EQ(name.GetAsText(slot), "short");
    EXPECT_EQ(name.GetStorageSize(slot.words), 0);
    EXPECT_EQ(name.CopyValue(slot.words, slot.words), 64);
}

TEST(PropertyString64Test, LongTextIsCutTo63Characters) {
    PropertyString64 name;
    const std::string longText(100, 'x');
    uint32_t words[16];
    std::memset(words, 0xAB, sizeof words);
    name.Parse(longText.c_str(), words);
    EXPECT_EQ(name.Print(words), std::string(63, 'x'));
    EXPECT_EQ(reinterpret_cast<const char*>(words)[63], '\0');
}

TEST(PropertyString64Test, UnterminatedValuePrintsAtMost63Characters) {
    PropertyString64 name;
    uint32_t words[16];
    std::memset(words, 'y', sizeof words);
    EXPECT_EQ(name.Print(words), std::string(63, 'y'));
}

} // namespace
} // namespace quarn
