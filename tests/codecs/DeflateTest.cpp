#include "codecs/Deflate.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace quarn::test {
namespace {

std::vector<uint8_t> Inflated(const std::vector<uint8_t>& stream, size_t expectedSize) {
    std::vector<uint8_t> out(expectedSize + 16);
    uLongf size = static_cast<uLongf>(out.size());
    int result = uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size()));
    EXPECT_EQ(result, Z_OK);
    out.resize(result == Z_OK ? size : 0);
    return out;
}

// Text, long runs, noise and short repeats: every kind of symbol and distance a picture gives.
std::vector<uint8_t> MixedData(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t noise = 12345;
    for (size_t i = 0; i < size; ++i) {
        noise = noise * 1103515245u + 12345u;
        const uint8_t kinds[4] = {static_cast<uint8_t>("the quick brown fox "[i % 20]), 7,
                                  static_cast<uint8_t>(noise >> 24), static_cast<uint8_t>(i % 251)};
        data[i] = kinds[(i / 700) % 4];
    }
    return data;
}

TEST(DeflateTest, EveryBlockTypeInflatesBackWithZlib) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{5}, size_t{70000}}) {
        std::vector<uint8_t> data = MixedData(size);
        for (uint32_t blockType : {0u, 1u, 2u}) {
            for (bool lz77 : {true, false}) {
                SCOPED_TRACE(std::to_string(size) + " bytes, block type " +
                             std::to_string(blockType) + (lz77 ? " with" : " without") +
                             " matching");
                DeflateSettings settings;
                settings.blockType = blockType;
                settings.useLz77 = lz77;
                std::vector<uint8_t> stream;
                ASSERT_EQ(ZlibCompress(stream, data.data(), data.size(), settings), 0u);
                EXPECT_EQ(Inflated(stream, data.size()), data);
            }
        }
    }
}

// Pieces of every size, past many blocks and slides of the window: the stream decodes whole,
// and the compressor holds as much state for 600 KB as for 600 bytes.
TEST(DeflateTest, StreamedPiecesInflateBackWithStateIndependentOfTheSize) {
    for (uint32_t blockType : {0u, 1u, 2u}) {
        size_t stateBytes = 0;
        for (size_t size : {size_t{600}, size_t{600000}}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, block type " + std::to_string(blockType));
            const std::vector<uint8_t> data = MixedData(size);
            DeflateSettings settings;
            settings.blockType = blockType;
            settings.windowSize = 32768;
            std::vector<uint8_t> stream;
            Deflater deflater(stream);
            ASSERT_EQ(deflater.Begin(settings, true), 0u);
            size_t piece = 1;
            for (size_t at = 0; at < size; at += piece, piece = piece * 7 % 70001 + 1) {
                deflater.Write(data.data() + at, std::min(piece, size - at));
            }
            if (stateBytes == 0) {
                stateBytes = deflater.GetStateBytes();
            }
            EXPECT_EQ(deflater.GetStateBytes(), stateBytes);
            EXPECT_LT(stateBytes, size_t{1} << 20);
            deflater.Finish();
            EXPECT_EQ(Inflated(stream, data.size()), data);
        }
    }
}

TEST(DeflateTest, WholeWindowAndLongRunsCompressAndSettingsOutsideTheFormatAreRefused) {
    std::vector<uint8_t> data = MixedData(50000);
    DeflateSettings settings;
    settings.windowSize = 32768;
    std::vector<uint8_t> stream;
    ASSERT_EQ(ZlibCompress(stream, data.data(), data.size(), settings), 0u);
    EXPECT_EQ(Inflated(stream, data.size()), data);
    // One literal, then back-references of distance 1.
    std::vector<uint8_t> run(100000, 42);
    std::vector<uint8_t> small;
    ASSERT_EQ(ZlibCompress(small, run.data(), run.size(), DeflateSettings{}), 0u);
    EXPECT_LT(small.size(), 200u);
    EXPECT_EQ(Inflated(small, run.size()), run);
    uint8_t byte = 1;
    stream.clear();
    DeflateSettings wideWindow;
    wideWindow.windowSize = 32769;
    EXPECT_EQ(ZlibCompress(stream, &byte, 1, wideWindow), 60u);
    DeflateSettings blockType3;
    blockType3.blockType = 3;
    EXPECT_EQ(ZlibCompress(stream, &byte, 1, blockType3), 61u);
    EXPECT_TRUE(stream.empty());
}

TEST(DeflateTest, CodeLengthsStayWithinTheLimitAndFormACode) {
    // Fibonacci frequencies want lengths far above the limit.
    std::vector<uint32_t> frequencies(40, 0);
    uint32_t a = 1, b = 1;
    for (size_t i = 0; i < 30; ++i) {
        frequencies[i] = a;
        uint32_t next = a + b;
        a = b;
        b = next;
    }
    std::vector<uint8_t> lengths = LimitedCodeLengths(frequencies, 15);
    double kraft = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_EQ(lengths[i] == 0, frequencies[i] == 0) << i;
        EXPECT_LE(lengths[i], 15);
        kraft += lengths[i] ? std::ldexp(1.0, -lengths[i]) : 0;
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    std::vector<uint32_t> lone(30, 0);
    lone[4] = 9;
    EXPECT_EQ(LimitedCodeLengths(lone, 15)[4], 1);
}

} // namespace
} // namespace quarn::test
