#pragma once

#include "device/DeviceTexture.h"

#include <gtest/gtest.h>

namespace quarn::test {

// The texel at (x, y) of a level (or cube face), read through a read lock of its own.
inline uint32_t ReadTexel(DeviceTexture& texture, int32_t x, int32_t y, uint32_t level = 0) {
    EXPECT_TRUE(texture.Lock(TextureLockRead, level));
    const uint32_t texel = texture.GetPixel(x, y);
    EXPECT_TRUE(texture.Lock(TextureUnlocked, level));
    return texel;
}

} // namespace quarn::test
