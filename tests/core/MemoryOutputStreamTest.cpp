#include "core/MemoryOutputStream.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

std::string Written(const MemoryOutputStream& stream) {
    return std::string(stream.GetData(), stream.GetPosition());
}

TEST(MemoryOutputStream, PutStringIsCutAtTheCapacity) {
    MemoryOutputStream stream(4);
    stream.PutString("hello");
    EXPECT_EQ(stream.Tell(), 4u);
    EXPECT_EQ(Written(stream), "hell");
}

TEST(MemoryOutputStream, PrintfThatDoesNotFitAddsNothing) {
    MemoryOutputStream stream(8);
    EXPECT_EQ(stream.Printf("%s", "abc"), 3);
    EXPECT_EQ(stream.Printf("%d", 123456), 0);
    EXPECT_EQ(Written(stream), "abc");
    EXPECT_EQ(std::string(stream.GetData(), 8), std::string("abc\0\0\0\0\0", 8))
        << "a text that does not fit must not be written in part";
    EXPECT_EQ(stream.Printf("%d", 12345), 5);
    EXPECT_EQ(Written(stream), "abc12345");
}

TEST(MemoryOutputStream, PrintfFillingTheRoomExactlyIsKeptWhole) {
    MemoryOutputStream stream(4);
    EXPECT_EQ(stream.Printf("%s", "abcd"), 4);
    EXPECT_EQ(Written(stream), "abcd");
    EXPECT_EQ(stream.Printf("%s", ""), 0);
    EXPECT_EQ(stream.Printf("x"), 0);
}

TEST(MemoryOutputStream, SingleBytesAndRawWritesStopAtTheCapacity) {
    MemoryOutputStream stream(5);
    stream.PutChar('a');
    EXPECT_EQ(stream.Write("bcd", 3), 3u);
    EXPECT_EQ(stream.Write("efg", 3), 1u);
    stream.PutChar('z');
    EXPECT_EQ(stream.Write("h", 1), 0u);
    EXPECT_EQ(Written(stream), "abcde");
}

} // namespace
} // namespace quarn
