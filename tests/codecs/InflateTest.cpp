#include "codecs/Inflate.h"

#include "ImageTestSupport.h"

#include <bit>
#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;

// Writes a deflate stream: plain fields least significant bit first, codes most significant
// bit first.
class BitWriter {
public:
    BitWriter& Bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            Bit((value >> i) & 1);
        }
        return *this;
    }
    BitWriter& Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) {
            Bit((code >> i) & 1);
        }
        return *this;
    }
    Bytes bytes;

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

// A fixed-code block: the literal 'a', then codes given as (code, bit length).
Bytes FixedBlock(std::initializer_list<std::pair<uint32_t, int>> codes) {
    BitWriter w;
    w.Bits(0b011, 3).Code(0x30 + 'a', 8);
    for (auto [code, length] : codes) {
        w.Code(code, length);
    }
    return w.bytes;
}

constexpr uint32_t Code16 = 1, Code17 = 2, Code18 = 3;

// A dynamic block whose code-length code gives 0, 16, 17 and 18 two bits each, then these
// code-length codes with their repeat counts.
Bytes DynamicLengths(std::initializer_list<std::pair<uint32_t, uint32_t>> codes) {
    BitWriter w;
    // 257 literal lengths, 1 distance length, 4 code-length lengths: for 16, 17, 18, 0.
    w.Bits(0b101, 3).Bits(0, 5).Bits(0, 5).Bits(0, 4).Bits(2, 3).Bits(2, 3).Bits(2, 3).Bits(2, 3);
    for (auto [code, repeat] : codes) {
        w.Code(code, 2).Bits(repeat, code == Code16 ? 2 : code == Code17 ? 3 : 7);
    }
    return w.bytes;
}

TEST(Inflate, MatchesTheReferenceCompressorAtEveryLevelWholeOrInPieces) {
    Bytes data(200000);
    uint32_t seed = 1;
    for (size_t i = 0; i < data.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        // Noise, long repeats and short periods (copies that overlap what they copy), so every
        // block type and distances long and short appear.
        const size_t region = (i / 4096) % 3;
        data[i] = region == 0   ? uint8_t(seed >> 24)
                  : region == 1 ? uint8_t((i % 251) ^ (i / 997))
                                : uint8_t((i % (2 + i / 8192 % 5)) * 40 + i / 300);
    }
    for (int level : {0, 1, 6, 9}) {
        uLongf size = compressBound(uLong(data.size()));
        Bytes compressed(size);
        compress2(compressed.data(), &size, data.data(), uLong(data.size()), level);
        // Whole, and in pieces of 7 bytes as a stream split over chunks is read.
        std::vector<InflateInput> pieces;
        for (size_t at = 0; at < size; at += 7) {
            pieces.push_back({compressed.data() + at, std::min<size_t>(7, size - at)});
        }
        for (const bool split : {false, true}) {
            Bytes out(data.size());
            size_t written = 0;
            const uint32_t error =
                split ? ZlibDecompress(pieces, out.data(), out.size(), written)
                      : ZlibDecompress(compressed.data(), size, out.data(), out.size(), written);
            EXPECT_EQ(error, 0u) << "level " << level << (split ? " in pieces" : "");
            EXPECT_EQ(written, data.size());
            EXPECT_EQ(out, data) << "level " << level << (split ? " in pieces" : "");
        }
    }
}

// Bytes of geometric frequencies (each half as frequent as the one before) under Huffman
// coding alone give codes of every length from 1 bit to the longest, 15: single look-ups, two
// literals to one, and second-level tables all take part.
TEST(Inflate, DecodesCodesOfEveryLengthUpToTheLongest) {
    Bytes data(1 << 20);
    uint32_t seed = 7;
    for (uint8_t& byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = uint8_t(255 - std::countr_zero(seed >> 8 | 1u << 23) * 7);
    }
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_HUFFMAN_ONLY), Z_OK);
    Bytes compressed(deflateBound(&stream, uLong(data.size())));
    stream.next_in = data.data();
    stream.avail_in = uInt(data.size());
    stream.next_out = compressed.data();
    stream.avail_out = uInt(compressed.size());
    ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    compressed.resize(stream.total_out);
    deflateEnd(&stream);
    std::vector<InflateInput> pieces;
    for (size_t at = 0; at < compressed.size(); at += 5) {
        pieces.push_back({compressed.data() + at, std::min<size_t>(5, compressed.size() - at)});
    }
    for (const bool split : {false, true}) {
        Bytes out(data.size());
        size_t written = 0;
        const uint32_t error = split ? ZlibDecompress(pieces, out.data(), out.size(), written)
                                     : ZlibDecompress(compressed.data(), compressed.size(),
                                                      out.data(), out.size(), written);
        EXPECT_EQ(error, 0u) << (split ? "in pieces" : "whole");
        EXPECT_EQ(out, data) << (split ? "in pieces" : "whole");
    }
}

TEST(Inflate, ReportsTheFaultOfEachBrokenStream) {
    // 200 five times as 9-bit literals: ends on a byte boundary with no end code.
    const std::pair<uint32_t, int> literal200{0x190 + 200 - 144, 9};
    const struct {
        const char* name;
        Bytes stream;
        size_t capacity;
        uint32_t error;
    } cases[] = {
        {"empty", {}, 8, 52},
        {"block type 3", {0x07}, 8, 20},
        {"stored length check", {0x01, 5, 0, 0, 0}, 8, 21},
        {"stored block past the room", {0x01, 5, 0, 0xFA, 0xFF, 1, 2, 3, 4, 5}, 3, 22},
        {"stored block cut", {0x01, 5, 0, 0xFA, 0xFF, 1, 2}, 8, 23},
        // No room at all: an empty vector's null buffer is taken as no bytes, not touched.
        {"empty stored block, no room", {0x01, 0, 0, 0xFF, 0xFF}, 0, 0},
        {"stored byte, no room", {0x01, 1, 0, 0xFE, 0xFF, 7}, 0, 22},
        // Length 10 (code 8), distance 2 (code 1) after one byte.
        {"distance before the start", FixedBlock({{8, 7}, {1, 5}}), 64, 12},
        {"copy past the room", FixedBlock({{8, 7}, {0, 5}, {0, 7}}), 5, 19},
        {"copy that fits", FixedBlock({{8, 7}, {0, 5}, {0, 7}}), 11, 0},
        {"literal past no room", FixedBlock({{8, 7}, {0, 5}, {0, 7}}), 0, 17},
        {"distance code 30", FixedBlock({{8, 7}, {30, 5}}), 64, 18},
        {"no end code", FixedBlock({literal200, literal200, literal200, literal200, literal200}),
         64, 51},
        {"dynamic header cut", {0x05}, 8, 49},
        {"oversubscribed code-length code",
         BitWriter().Bits(0b101, 3).Bits(0, 14).Bits(1, 3).Bits(1, 3).Bits(1, 3).Bits(1, 3).bytes,
         8, 55},
        {"repeat without a previous length", DynamicLengths({{Code16, 0}}), 8,
         InflateRepeatWithoutPrevious},
        {"138 + 120 zero lengths: no end code", DynamicLengths({{Code18, 127}, {Code18, 109}}), 8,
         64},
        {"18 past the lengths", DynamicLengths({{Code18, 127}, {Code18, 127}}), 8, 15},
        {"16 past the lengths", DynamicLengths({{Code18, 127}, {Code18, 108}, {Code16, 0}}), 8, 13},
    };
    for (const auto& c : cases) {
        Bytes out(c.capacity);
        size_t written = 0;
        EXPECT_EQ(Inflate(c.stream.data(), c.stream.size(), out.data(), c.capacity, written),
                  c.error)
            << c.name;
    }
}

// A fault deep in a long block is met by the word-at-a-time decode loop, and near an end or a
// piece's edge by the careful one: both report it alike, with the bytes before it written.
TEST(Inflate, ReportsAFaultAlikeInTheFastAndTheCarefulLoop) {
    const std::pair<uint32_t, int> literalA{0x30 + 'a', 8};
    const struct {
        const char* name;
        std::initializer_list<std::pair<uint32_t, int>> fault;
        uint32_t error;
    } cases[] = {
        {"distance code 30", {{8, 7}, {30, 5}}, InflateBadDistanceCode},
        // Length 10, distance code 29 with 13 extra bits: 24577 back, past the start.
        {"distance before the start", {{8, 7}, {29, 5}, {0, 13}}, InflateBackReferenceBeforeStart},
        {"length symbol 286", {{0xC6, 8}}, InflateBadSymbol},
    };
    for (const auto& c : cases) {
        BitWriter w;
        w.Bits(0b011, 3);
        for (int i = 0; i < 400; ++i) {
            w.Code(literalA.first, literalA.second);
        }
        for (auto [code, length] : c.fault) {
            w.Code(code, length);
        }
        for (int i = 0; i < 64; ++i) {
            w.Code(literalA.first, literalA.second);
        }
        std::vector<InflateInput> bytes;
        for (const uint8_t& b : w.bytes) {
            bytes.push_back({&b, 1});
        }
        Bytes out(4096);
        size_t written = 0;
        EXPECT_EQ(Inflate(w.bytes.data(), w.bytes.size(), out.data(), out.size(), written), c.error)
            << c.name;
        EXPECT_EQ(written, 400u) << c.name;
        // Byte by byte every symbol takes the careful loop; a zlib header leads the pieces.
        const Bytes header = {0x78, 0x01};
        bytes.insert(bytes.begin(), {header.data(), 2});
        EXPECT_EQ(ZlibDecompress(bytes, out.data(), out.size(), written), c.error) << c.name;
        EXPECT_EQ(written, 400u) << c.name;
        EXPECT_EQ(out[399], 'a') << c.name;
    }
}

TEST(Inflate, ChecksTheZlibWrapper) {
    Bytes stream = test::ZlibCompressed({1, 2, 3, 4});
    Bytes out(4);
    size_t written = 0;
    auto run = [&](const Bytes& s) {
        return ZlibDecompress(s.data(), s.size(), out.data(), out.size(), written);
    };
    EXPECT_EQ(run(stream), 0u);
    EXPECT_EQ(run({0x78}), 53u);
    EXPECT_EQ(run({0x78, 0x00, 0x03}), 24u);
    EXPECT_EQ(run({0x79, 0x18, 0x03}), 25u); // method 9 with a valid check
    EXPECT_EQ(run({0x78, 0xBB, 0x03}), 26u);
    Bytes bad = stream;
    bad.back() ^= 1;
    EXPECT_EQ(run(bad), 58u);
    EXPECT_EQ(ZlibDecompress(bad.data(), bad.size(), out.data(), out.size(), written, true), 0u);

    // The checksum is read where the stream ends, not from the input's last bytes.
    std::vector<uint8_t> trailing = stream;
    trailing.push_back(0);
    EXPECT_EQ(run(trailing), 0u);
    bad.insert(bad.end(), stream.end() - 4, stream.end());
    EXPECT_EQ(run(bad), 58u);
    EXPECT_EQ(run(std::vector<uint8_t>(stream.begin(), stream.end() - 1)), 58u);
}

} // namespace
} // namespace quarn
