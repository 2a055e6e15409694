#include "codecs/ImageChecksums.h"

#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

namespace quarn {
namespace {

// Lengths around the 16-byte blocks and the reduction run, all-255 bytes for the largest sums,
// and a running checksum carried from an earlier piece.
TEST(ImageChecksums, MatchTheReferenceLibrary) {
    for (const size_t length : {size_t(1), size_t(15), size_t(16), size_t(5552), size_t(5553),
                                size_t(10007), size_t(100000)}) {
        for (const bool saturated : {false, true}) {
            std::vector<uint8_t> data(length);
            for (size_t i = 0; i < data.size(); ++i) {
                data[i] = saturated ? 255 : uint8_t(i * 131 + (i >> 7));
            }
            SCOPED_TRACE(testing::Message() << length << (saturated ? " bytes of 255" : " bytes"));
            EXPECT_EQ(ChunkCrc(data.data(), data.size()), crc32(0, data.data(), uInt(data.size())));
            for (const uint32_t start : {1u, 0xFFF0FFF0u}) {
                EXPECT_EQ(ZlibChecksum(start, data.data(), data.size()),
                          adler32(start, data.data(), uInt(data.size())));
            }
        }
    }
}

} // namespace
} // namespace quarn
