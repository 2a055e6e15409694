#include "core/object/PropertyText.h"

#include "core/object/Entity.h"
#include "core/string/TextArena.h"

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
    }

    uint32_t words[16] = {};
};

TEST(PropertyStringTest, TextReachesTheObjectAndBack) {
    PropertyString text;
    text.Setup("text", "", MakeGetter<&Label::GetText>(), MakeSetter<&Label::SetText>());
    Label label;
    EXPECT_EQ(text.SetFromText(label, "hello world"), 4);
    EXPECT_STREQ(label.GetText(), "hello world");
    EXPECT_EQ(text.GetAsText(label), "hello world");
}

TEST(PropertyStringTest, ParseKeepsAnArenaWordAndCopiesAnyOtherText) {
    PropertyString text;
    const TextWord word = StoreText("kept");
    uint32_t value = 0;
    text.Parse(LookupText(word), &value);
    EXPECT_EQ(value, word);
    const std::string outside = "outside";
    text.Parse(outside.c_str(), &value);
    EXPECT_NE(LookupText(value), outside.c_str());
    EXPECT_EQ(text.Print(&value), "outside");
}

TEST(PropertyStringTest, StorageSizeIsLengthPlusOne) {
    PropertyString text;
    const uint32_t word = StoreText("abc");
    const uint32_t none = 0;
    EXPECT_EQ(text.GetStorageSize(&word), 4);
    EXPECT_EQ(text.GetStorageSize(&none), 1);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(text.StoreText(&word, buffer), 4);
    EXPECT_STREQ(buffer, "abc");
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

TEST(PropertyString64Test, TextLivesInTheValue) {
    PropertyString64 name;
    Slot slot;
    EXPECT_EQ(name.SetFromText(slot, "short"), 64);
    EXPECT_STREQ(reinterpret_cast<const char*>(slot.words), "short");
    EXPECT_EQ(name.GetAsText(slot), "short");
    EXPECT_EQ(name.GetStorageSize(slot.words), 0);
    EXPECT_EQ(name.CopyValue(slot.words, slot.words), 64); // no overlapping copy onto itself
}

TEST(PropertyString64Test, LongTextIsCutTo63CharactersAndTerminated) {
    PropertyString64 name;
    uint32_t words[16];
    std::memset(words, 0xAB, sizeof words);
    name.Parse(std::string(100, 'x').c_str(), words);
    EXPECT_EQ(name.Print(words), std::string(63, 'x'));
    EXPECT_EQ(reinterpret_cast<const char*>(words)[63], '\0');
}

TEST(PropertyString64Test, UnterminatedValuePrintsAtMost63Characters) {
    uint32_t words[16];
    std::memset(words, 'y', sizeof words);
    EXPECT_EQ(PropertyString64().Print(words), std::string(63, 'y'));
}

} // namespace
} // namespace quarn
