#include "codecs/ImageChecksums.h"

#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

namespace quarn {
namespace {

TEST(ImageChecksums, MatchTheReferenceLibrary) {
    std::vector<uint8_t> data(10007);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(i * 131 + (i >> 7));
    }
    EXPECT_EQ(ChunkCrc(data.data(), data.size()), crc32(0, data.data(), uInt(data.size())));
    EXPECT_EQ(ZlibChecksum(1, data.data(), data.size()),
              adler32(1, data.data(), uInt(data.size())));
}

} // namespace
} // namespace quarn
