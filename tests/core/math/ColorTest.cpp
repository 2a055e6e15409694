#include "core/math/Color.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(Color, PackColorTruncatesAndClampsEachChannelAndUndoesUnpackColor) {
    EXPECT_EQ(PackColor(1.5f, -0.2f, 0.5f, 2.0f), 0xFFFF007Fu);
    // 0.999 * 255 = 254.7 truncates rather than rounds.
    EXPECT_EQ(PackColor(0.999f, 0.0f, 0.0f, -1.0f), 0x00FE0000u);
    // A huge channel is full, not wrapped into a negative integer; NaN is empty.
    EXPECT_EQ(PackColor(1e20f, -1e20f, NAN, INFINITY), 0xFFFF0000u);
    const Float4 c = UnpackColor(0x80FF4001u);
    EXPECT_FLOAT_EQ(c.y, 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.w, 128.0f / 255.0f);
    // byte / 255 * 255 must not land a hair below the byte, where truncation would lose one.
    for (uint32_t byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(PackColor(UnpackColor(byte << 16).x, 0, 0, 0) >> 16, byte) << byte;
    }
}

} // namespace
} // namespace quarn
