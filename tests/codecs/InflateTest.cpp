#include "codecs/Inflate.h"

#include "ImageTestSupport.h"

#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

namespace quarn {
namespace {

using test::ZlibCompressed;

// Writes a deflate stream: plain fields least significant bit first, codes most significant
// bit first.
class BitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            Bit((value >> i) & 1);
        }
    }
    void Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) {
            Bit((code >> i) & 1);
        }
    }
    void FixedLiteral(uint32_t value) {
        if (value < 144) {
            Code(0x30 + value, 8);
        } else {
            Code(0x190 + value - 144, 9);
        }
    }
    std::vector<uint8_t> bytes;

private:
    void Bit(uint32_t bit) {
        if (used_ % 8 == 0) {
            bytes.push_back(0);
        }
        bytes.back() = uint8_t(bytes.back() | bit << (used_ % 8));
        ++used_;
    }
    size_t used_ = 0;
};

uint32_t InflateError(const std::vector<uint8_t>& stream, size_t capacity) {
    std::vector<uint8_t> out(capacity);
    size_t written = 0;
    return Inflate(stream.data(), stream.size(), out.data(), capacity, written);
}

TEST(Inflate, MatchesTheReferenceCompressorAtEveryLevel) {
    std::vector<uint8_t> data(200000);
    uint32_t seed = 1;
    for (size_t i = 0; i < data.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        // Runs, repeats and noise, so every block type and long distances appear.
        data[i] = (i / 4096) % 3 == 0 ? uint8_t(seed >> 24) : uint8_t((i % 251) ^ (i / 997));
    }
    for (int level : {0, 1, 6, 9}) {
        uLongf size = compressBound(uLong(data.size()));
        std::vector<uint8_t> compressed(size);
        compress2(compressed.data(), &size, data.data(), uLong(data.size()), level);
        std::vector<uint8_t> out(data.size());
        size_t written = 0;
        EXPECT_EQ(ZlibDecompress(compressed.data(), size, out.data(), out.size(), written), 0u)
            << "level " << level;
        EXPECT_EQ(written, data.size());
        EXPECT_EQ(out, data) << "level " << level;
    }
}

TEST(Inflate, ReportsStoredBlockFaults) {
    EXPECT_EQ(InflateError({}, 8), 52u);
    EXPECT_EQ(InflateError({0x07}, 8), 20u);
    EXPECT_EQ(InflateError({0x01, 5, 0, 0, 0}, 8), 21u);
    EXPECT_EQ(InflateError({0x01, 5, 0, 0xFA, 0xFF, 1, 2, 3, 4, 5}, 3), 22u);
    EXPECT_EQ(InflateError({0x01, 5, 0, 0xFA, 0xFF, 1, 2}, 8), 23u);
    EXPECT_EQ(InflateError({0x01, 5, 0}, 8), 52u);
    // No room at all: an empty vector's null buffer is taken as no bytes, not touched.
    EXPECT_EQ(InflateError({0x01, 0, 0, 0xFF, 0xFF}, 0), 0u);
    EXPECT_EQ(InflateError({0x01, 1, 0, 0xFE, 0xFF, 7}, 0), 22u);
}

TEST(Inflate, ReportsFixedBlockFaults) {
    BitWriter beforeStart;
    beforeStart.Bits(0b011, 3);
    beforeStart.FixedLiteral('a');
    beforeStart.Code(8, 7); // length 10
    beforeStart.Code(1, 5); // distance 2
    EXPECT_EQ(InflateError(beforeStart.bytes, 64), 12u);

    BitWriter copy;
    copy.Bits(0b011, 3);
    copy.FixedLiteral('a');
    copy.Code(8, 7); // length 10
    copy.Code(0, 5); // distance 1
    copy.Code(0, 7);
    EXPECT_EQ(InflateError(copy.bytes, 5), 19u);
    EXPECT_EQ(InflateError(copy.bytes, 11), 0u);
    EXPECT_EQ(InflateError(copy.bytes, 0), 17u);

    BitWriter distance;
    distance.Bits(0b011, 3);
    distance.FixedLiteral('a');
    distance.Code(8, 7);
    distance.Code(30, 5);
    EXPECT_EQ(InflateError(distance.bytes, 64), 18u);

    // Five 9-bit literals end exactly on a byte boundary with no end code.
    BitWriter truncated;
    truncated.Bits(0b011, 3);
    for (int i = 0; i < 5; ++i) {
        truncated.FixedLiteral(200);
    }
    ASSERT_EQ(truncated.bytes.size(), 6u);
    EXPECT_EQ(InflateError(truncated.bytes, 64), 51u);
}

// A dynamic block header whose code-length code gives 0, 16, 17 and 18 two bits each.
BitWriter DynamicHeader() {
    BitWriter w;
    w.Bits(0b101, 3);
    w.Bits(0, 5); // 257 literal lengths
    w.Bits(0, 5); // 1 distance length
    w.Bits(0, 4); // 4 code-length lengths: for 16, 17, 18, 0
    for (int i = 0; i < 4; ++i) {
        w.Bits(2, 3);
    }
    return w;
}

constexpr uint32_t CodeZero = 0, Code16 = 1, Code17 = 2, Code18 = 3;

TEST(Inflate, ReportsDynamicHeaderFaults) {
    EXPECT_EQ(InflateError({0x05}, 8), 49u);

    BitWriter oversubscribed;
    oversubscribed.Bits(0b101, 3);
    oversubscribed.Bits(0, 14);
    for (int i = 0; i < 4; ++i) {
        oversubscribed.Bits(1, 3);
    }
    EXPECT_EQ(InflateError(oversubscribed.bytes, 8), 55u);

    BitWriter noPrevious = DynamicHeader();
    noPrevious.Code(Code16, 2);
    noPrevious.Bits(0, 2);
    EXPECT_EQ(InflateError(noPrevious.bytes, 8), uint32_t(InflateRepeatWithoutPrevious));

    BitWriter noEndCode = DynamicHeader(); // 138 + 120 zero lengths: all 258
    noEndCode.Code(Code18, 2);
    noEndCode.Bits(127, 7);
    noEndCode.Code(Code18, 2);
    noEndCode.Bits(109, 7);
    EXPECT_EQ(InflateError(noEndCode.bytes, 8), 64u);

    BitWriter past18 = DynamicHeader();
    past18.Code(Code18, 2);
    past18.Bits(127, 7);
    past18.Code(Code18, 2);
    past18.Bits(127, 7);
    EXPECT_EQ(InflateError(past18.bytes, 8), 15u);

    BitWriter past17 = DynamicHeader(); // 256 zeros, then 3 more
    past17.Code(Code18, 2);
    past17.Bits(127, 7);
    past17.Code(Code18, 2);
    past17.Bits(107, 7);
    past17.Code(Code17, 2);
    past17.Bits(0, 3);
    EXPECT_EQ(InflateError(past17.bytes, 8), 14u);

    BitWriter past16 = DynamicHeader(); // 257 zeros, then 3 repeats
    past16.Code(Code18, 2);
    past16.Bits(127, 7);
    past16.Code(Code18, 2);
    past16.Bits(108, 7);
    past16.Code(Code16, 2);
    past16.Bits(0, 2);
    EXPECT_EQ(InflateError(past16.bytes, 8), 13u);

    // A fifth code-length length (for 8, unused) makes the 18 end the input on a byte boundary.
    BitWriter repeatBits;
    repeatBits.Bits(0b101, 3);
    repeatBits.Bits(0, 10);
    repeatBits.Bits(1, 4);
    repeatBits.Bits(0x492, 12); // 2, 2, 2, 2
    repeatBits.Bits(0, 3);
    for (int i = 0; i < 3; ++i) {
        repeatBits.Code(CodeZero, 2);
    }
    repeatBits.Code(Code18, 2);
    ASSERT_EQ(repeatBits.bytes.size(), 5u);
    EXPECT_EQ(InflateError(repeatBits.bytes, 8), 50u);
}

TEST(Inflate, ChecksTheZlibWrapper) {
    std::vector<uint8_t> stream = ZlibCompressed({1, 2, 3, 4});
    std::vector<uint8_t> out(4);
    size_t written = 0;
    auto run = [&](const std::vector<uint8_t>& s) {
        return ZlibDecompress(s.data(), s.size(), out.data(), out.size(), written);
    };
    EXPECT_EQ(run(stream), 0u);
    EXPECT_EQ(run({0x78}), 53u);
    EXPECT_EQ(run({0x78, 0x00, 0x03}), 24u);
    EXPECT_EQ(run({0x79, 0x18, 0x03}), 25u); // method 9 with a valid check
    EXPECT_EQ(run({0x78, 0xBB, 0x03}), 26u);
    std::vector<uint8_t> bad = stream;
    bad.back() ^= 1;
    EXPECT_EQ(run(bad), 58u);
    EXPECT_EQ(ZlibDecompress(bad.data(), bad.size(), out.data(), out.size(), written, true), 0u);
}

} // namespace
} // namespace quarn
