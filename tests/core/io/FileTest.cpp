#include "core/io/BufferFile.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(TextFile, BytesComeOutSignExtendedAnd0xFFReadsAsTheEnd) {
    TextFile file("A\xE9\xFF"
                  "B");
    EXPECT_EQ(file.ReadByte(), 'A');
    EXPECT_EQ(file.ReadByte(), -23);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_FALSE(file.IsEof());
    EXPECT_EQ(file.ReadByte(), 'B');
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
}

TEST(TextFile, LittleEndianReadsSeeEveryByteAsData) {
    TextFile file("\x81\xFE\x7F\xFF\x01\x80\xC3");
    EXPECT_EQ(file.ReadUInt32(), 0xFF7FFE81u);
    EXPECT_EQ(file.ReadUInt16(), 0x8001u);
    EXPECT_EQ(file.ReadUInt8(), 0xC3u);
    EXPECT_EQ(file.ReadUInt16(), 0xFFFFu) << "past the end every byte reads as 0xFF";
}

TEST(BufferFile, BytesComeOutZeroExtendedIncludingNul) {
    const unsigned char data[] = {0xFF, 0x00, 0x80};
    BufferFile file(data, sizeof data);
    EXPECT_EQ(file.ReadByte(), 0xFF);
    EXPECT_EQ(file.ReadByte(), 0);
    EXPECT_EQ(file.ReadByte(), 0x80);
    EXPECT_EQ(file.ReadByte(), -1);
}

TEST(BufferFile, UnreadAtTheStartStaysAtTheStart) {
    BufferFile file("xy", 2);
    file.UnreadByte();
    EXPECT_EQ(file.Tell(), 0u);
    EXPECT_EQ(file.ReadByte(), 'x');
    file.UnreadByte();
    EXPECT_EQ(file.ReadByte(), 'x');
}

TEST(BufferFile, ReadCopiesWhatIsLeftAndNothingPastTheEnd) {
    BufferFile file("abcdef", 6);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(file.Read(buffer, 8), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_FALSE(file.Seek(10));
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.Seek(1));
    EXPECT_EQ(file.ReadByte(), 'b');
}

// Reads every source shares ----------------------------------------------------------------

TEST(FileLineReads, CrlfLinesLoseTheirCr) {
    TextFile file("ab\r\ncd");
    char line[16];
    EXPECT_EQ(file.ReadLine(line, sizeof line), 2u);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(file.ReadLine(line, sizeof line), 2u);
    EXPECT_EQ(file.ReadLine(line, sizeof line), 0u);
    EXPECT_STREQ(line, "");

    TextFile again("ab\r\ncd\r");
    std::string text;
    again.ReadLineString(text);
    again.ReadLineString(text);
    EXPECT_EQ(text, "cd");
}

TEST(FileLineReads, OverlongRunIsCutAtTheCapacityAndItsRestDropped) {
    TextFile file("abcdef,gh");
    char buffer[4];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(file.ReadUntil(buffer, sizeof buffer, ','), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(file.ReadUntil(buffer, sizeof buffer, ','), 2u);
    EXPECT_STREQ(buffer, "gh");
}

TEST(FileLineReads, CutLineKeepsACrThatDidNotEndIt) {
    TextFile file("ab\rX\nab\r\n");
    char buffer[4];
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "ab\r");
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 2u) << "a line of exactly the room";
    EXPECT_STREQ(buffer, "ab");
}

TEST(FileLineReads, NoRoomOrNoBufferStoresNothingButConsumesTheRun) {
    TextFile file("abc\n# comment\nd");
    char untouched = '#';
    EXPECT_EQ(file.ReadLine(&untouched, 0), 0u);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(file.ReadUntil(nullptr, 0, '\n'), 9u);
    EXPECT_EQ(file.ReadByte(), 'd');
}

TEST(FileLineReads, DelimiterMatchesWhetherPassedSignedOrNot) {
    const unsigned char data[] = {'a', 0xE9, 'b', 0xE9, 'c'};
    BufferFile file(data, sizeof data);
    std::string text;
    file.ReadStringUntil(text, static_cast<char>(0xE9));
    EXPECT_EQ(text, "a");
    file.ReadStringUntil(text, 0xE9);
    EXPECT_EQ(text, "b");
    TextFile signedSource("x\xE9y");
    signedSource.ReadStringUntil(text, 0xE9);
    EXPECT_EQ(text, "x");
}

} // namespace
} // namespace quarn
