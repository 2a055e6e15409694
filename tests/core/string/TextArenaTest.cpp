#include "core/string/TextArena.h"

#include "tests/support/FreshProcess.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(TextArena, WordsNameTheirTextsThatStayPutAndBadWordsNameNothing) {
    TextWord word = StoreText("long-lived");
    ASSERT_NE(word, 0u);
    EXPECT_STREQ(LookupText(word), "long-lived");
    EXPECT_EQ(TextWordOf(LookupText(word)), word);
    EXPECT_STREQ(LookupText(0), "");
    EXPECT_STREQ(LookupText(0xFFFFFFFFu), "");
    EXPECT_STREQ(LookupText(word + 1000000), "");
    std::string outside = "elsewhere";
    EXPECT_EQ(TextWordOf(outside.c_str()), 0u);
    // Stored texts stay put while more are stored.
    const char* where = LookupText(word);
    for (int i = 0; i < 10000; ++i) {
        StoreText(std::string(100, 'x'));
    }
    EXPECT_EQ(LookupText(word), where);
    EXPECT_STREQ(where, "long-lived");
}

TEST(TextArena, RingTextStaysValidUntilTheRingWrapsToItsStartAfterTheWrapPoint) {
    const char* kept = PutTempString("keep me");
    const TextWord keptWord = TextWordOf(kept);
    const std::string hundred(100, 'r');
    int wraps = 0;
    char* previous = TempStringWritePosition();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_GE(GetTempStringSpace(), TempRingSize - TempRingWrapPoint);
        std::memcpy(TempStringWritePosition(), hundred.c_str(), hundred.size() + 1);
        CommitTempString();
        char* position = TempStringWritePosition();
        if (position < previous) {
            if (wraps == 0) {
                EXPECT_STREQ(LookupText(keptWord), "keep me") << "not yet written over";
            }
            ++wraps;
            // The ring is the first thing in the arena: its start is word 1.
            EXPECT_EQ(TextWordOf(position), 1u);
        }
        previous = position;
    }
    EXPECT_GE(wraps, 1) << "1000 texts of 101 bytes pass the 63 KB point";
}

TEST(TextArena, CommitNeverRunsPastTheRingForAnUnterminatedText) {
    // Close to the end of the ring.
    while (GetTempStringSpace() > TempRingSize - TempRingWrapPoint + 200) {
        PutTempString(std::string(150, 'p'));
    }
    size_t space = GetTempStringSpace();
    char* position = TempStringWritePosition();
    std::memset(position, 'z', space);
    CommitTempString();
    EXPECT_EQ(std::strlen(position), space - 1);
    EXPECT_EQ(GetTempStringSpace(), TempRingSize);
}

// Texts of every size come back whole, whatever the ring held before: one that does not fit
// the space left starts at the ring's beginning, one longer than the ring takes a long slot.
TEST(TextArena, PutTempStringKeepsTextsWhole) {
    for (size_t length :
         {size_t{10000}, size_t{60000}, TempRingSize - 1, TempRingSize, size_t{100000}}) {
        // Leave a little over 1 KB of space at the write position.
        while (GetTempStringSpace() > TempRingSize - TempRingWrapPoint + 200) {
            PutTempString(std::string(150, 'p'));
        }
        const std::string text(length, static_cast<char>('a' + length % 26));
        const char* kept = PutTempString(text);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(std::strlen(kept), length);
        EXPECT_EQ(LookupText(TextWordOf(kept)), text) << length;
    }
}

TEST(TextArena, LongTextsLiveUntilTheirSlotIsTakenAgain) {
    std::vector<TextWord> words;
    for (size_t i = 0; i < LongTempSlotCount; ++i) {
        words.push_back(TextWordOf(PutTempString(std::string(200000 - i, 'x'))));
    }
    for (size_t i = 0; i < LongTempSlotCount; ++i) {
        EXPECT_EQ(std::strlen(LookupText(words[i])), 200000 - i);
    }
    // The first slot takes a shorter text: the old word names it, and a word past its end
    // names no text.
    PutTempString(std::string(70000, 'y'));
    EXPECT_EQ(std::strlen(LookupText(words[0])), 70000u);
    EXPECT_STREQ(LookupText(words[0] + 150000), "");
    EXPECT_EQ(TextWordOf(LookupText(words[0]) + 150000), 0u);
}

TEST(TextArena, AGivenBackBlockIsZeroedAndReusedByTheNextBlockThatFits) {
    // Where no block was given back before: a smaller one of another test would be taken first.
    test::ExpectInFreshProcess([] {
        const TextWord first = AllocateTextBlock(10);
        ASSERT_NE(first, 0u);
        char* bytes = GetTextBlock(first);
        ASSERT_NE(bytes, nullptr);
        std::memcpy(bytes, "literal-ab", 10); // the block's own end word still terminates it
        EXPECT_STREQ(LookupText(first + 8), "ab");
        FreeTextBlock(first);
        EXPECT_EQ(GetTextBlock(first), nullptr);
        EXPECT_STREQ(LookupText(first + 8), "");
        const TextWord second = AllocateTextBlock(4);
        EXPECT_EQ(second, first);
        // The rest of the old block is free again for a block that fits it.
        const TextWord third = AllocateTextBlock(4);
        EXPECT_EQ(third, first + 8);
        FreeTextBlock(second);
        FreeTextBlock(third);
        FreeTextBlock(third); // twice is harmless
    });
}

} // namespace
} // namespace quarn
