#include "core/io/BufferFile.h"
#include "core/io/MemoryOutputStream.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(TextFile, BytesComeOutSignExtended0xFFReadsAsTheEndAndWordsAreLittleEndian) {
    TextFile file("A\xE9\xFF"
                  "B");
    EXPECT_EQ(file.ReadByte(), 'A');
    EXPECT_EQ(file.ReadByte(), -23);
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_FALSE(file.IsEof());
    EXPECT_EQ(file.ReadByte(), 'B');
    EXPECT_EQ(file.ReadByte(), -1);
    EXPECT_TRUE(file.IsEof());
    // Every byte is data to the word reads.
    TextFile words("\x81\xFE\x7F\xFF\x01\x80\xC3");
    EXPECT_EQ(words.ReadUInt32(), 0xFF7FFE81u);
    EXPECT_EQ(words.ReadUInt16(), 0x8001u);
    EXPECT_EQ(words.ReadUInt8(), 0xC3u);
    EXPECT_EQ(words.ReadUInt16(), 0xFFFFu) << "past the end every byte reads as 0xFF";
}

TEST(BufferFile, BytesComeOutZeroExtendedAndReadsStopAtTheEndsOfTheBuffer) {
    const unsigned char data[] = {0xFF};
    BufferFile bytes(data, sizeof data);
    EXPECT_EQ(bytes.ReadByte(), 0xFF);
    EXPECT_EQ(bytes.ReadByte(), -1);
    BufferFile file("abcdef", 6);
    file.UnreadByte(); // at the start: stays there
    EXPECT_EQ(file.Tell(), 0u);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(file.Read(buffer, 8), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_FALSE(file.Seek(10));
    EXPECT_TRUE(file.Seek(1));
    EXPECT_EQ(file.ReadByte(), 'b');
}

// Reads every source shares ----------------------------------------------------------------

TEST(FileLineReads, LinesLoseTheCrThatEndsThemAndKeepOneThatDoesNot) {
    TextFile file("ab\r\ncd\nab\rX\nab\r\n");
    char line[4];
    EXPECT_EQ(file.ReadLine(line, sizeof line), 2u);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(file.ReadLine(line, sizeof line), 2u);
    EXPECT_STREQ(line, "cd");
    // A line cut at the capacity keeps a CR that did not end it.
    EXPECT_EQ(file.ReadLine(line, sizeof line), 3u);
    EXPECT_STREQ(line, "ab\r");
    EXPECT_EQ(file.ReadLine(line, sizeof line), 2u) << "a line of exactly the room";
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(file.ReadLine(line, sizeof line), 0u);
    EXPECT_STREQ(line, "");
    TextFile again("ab\r\ncd\r");
    std::string text;
    again.ReadLineString(text);
    again.ReadLineString(text);
    EXPECT_EQ(text, "cd");
}

TEST(FileLineReads, OverlongRunsAreCutAtTheCapacityAndTheirRestDropped) {
    TextFile file("abcdef,gh\nabc\n# comment\nd");
    char buffer[4];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(file.ReadUntil(buffer, sizeof buffer, ','), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(file.ReadUntil(buffer, sizeof buffer, '\n'), 2u);
    EXPECT_STREQ(buffer, "gh");
    // No room or no buffer stores nothing but consumes the run.
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

TEST(MemoryOutputStream, WritesStopAtTheCapacityAndAPrintfThatDoesNotFitAddsNothing) {
    MemoryOutputStream stream(8);
    EXPECT_EQ(stream.Printf("%s", "abc"), 3);
    EXPECT_EQ(stream.Printf("%d", 123456), 0);
    EXPECT_EQ(std::string(stream.GetData(), 8), std::string("abc\0\0\0\0\0", 8))
        << "a text that does not fit must not be written in part";
    EXPECT_EQ(stream.Printf("%d", 12345), 5) << "one that fills the room exactly is kept";
    EXPECT_EQ(stream.Printf("x"), 0);
    EXPECT_EQ(std::string(stream.GetData(), stream.GetPosition()), "abc12345");
    MemoryOutputStream bytes(3);
    bytes.PutString("ab");
    EXPECT_EQ(bytes.Write("cd", 2), 1u);
    bytes.PutChar('z');
    EXPECT_EQ(std::string(bytes.GetData(), bytes.GetPosition()), "abc");
}

} // namespace
} // namespace quarn
