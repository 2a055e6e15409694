#include "core/io/MemoryOutputStream.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

std::string Written(const MemoryOutputStream& stream) {
    return std::string(stream.GetData(), stream.GetPosition());
}

TEST(MemoryOutputStream, PrintfThatDoesNotFitAddsNothing) {
    MemoryOutputStream stream(8);
    EXPECT_EQ(stream.Printf("%s", "abc"), 3);
    EXPECT_EQ(stream.Printf("%d", 123456), 0);
    EXPECT_EQ(std::string(stream.GetData(), 8), std::string("abc\0\0\0\0\0", 8))
        << "a text that does not fit must not be written in part";
    EXPECT_EQ(stream.Printf("%d", 12345), 5) << "one that fills the room exactly is kept";
    EXPECT_EQ(stream.Printf("x"), 0);
    EXPECT_EQ(Written(stream), "abc12345");
}

TEST(MemoryOutputStream, StringsBytesAndRawWritesStopAtTheCapacity) {
    MemoryOutputStream stream(7);
    stream.PutChar('a');
    stream.PutString("bcd");
    EXPECT_EQ(stream.Write("efgh", 4), 3u);
    stream.PutChar('z');
    stream.PutString("x");
    EXPECT_EQ(Written(stream), "abcdefg");
}

} // namespace
} // namespace quarn
