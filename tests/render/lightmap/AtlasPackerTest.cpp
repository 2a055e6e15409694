#include "render/lightmap/AtlasPacker.h"

#include <gtest/gtest.h>
#include <random>
#include <utility>
#include <vector>

namespace quarn {
namespace {

TextureAtlasPart Part(int32_t width, int32_t height, int32_t tag = 0) {
    TextureAtlasPart part;
    part.width = width;
    part.height = height;
    part.sourceX = tag;
    return part;
}

std::vector<std::pair<int32_t, int32_t>> Placements(const std::vector<TextureAtlasPart>& parts) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const TextureAtlasPart& part : parts) {
        out.emplace_back(part.atlasX, part.atlasY);
    }
    return out;
}

// The shelf packer as plainly as it can be written, rescanning the array for every placement.
AtlasSize ReferencePack(std::vector<TextureAtlasPart>& parts, int32_t width) {
    const int count = static_cast<int>(parts.size());
    for (TextureAtlasPart& part : parts) {
        if (part.width > width || part.height > MaxAtlasPartHeight) {
            return {};
        }
        part.placed = false;
    }
    if (parts.empty()) {
        return {};
    }
    for (int i = 1; i < count; ++i) { // stable insertion sort
        for (int j = i; j > 0; --j) {
            const TextureAtlasPart& a = parts[j - 1];
            const TextureAtlasPart& b = parts[j];
            if (b.height > a.height || (b.height == a.height && b.width > a.width)) {
                std::swap(parts[j - 1], parts[j]);
            } else {
                break;
            }
        }
    }
    int64_t shelfTop = 0;
    AtlasSize used;
    while (!parts[0].placed) {
        int64_t x = 0;
        int64_t remaining = width;
        for (bool placedOne = true; placedOne;) {
            placedOne = false;
            for (int i = 0; i < count && !parts[i].placed; ++i) {
                if (parts[i].width > remaining) {
                    continue;
                }
                parts[i].atlasX = static_cast<int32_t>(x);
                parts[i].atlasY = static_cast<int32_t>(shelfTop);
                x += parts[i].width;
                used.width = std::max(used.width, x);
                used.height = std::max(used.height, shelfTop + parts[i].height);
                remaining = width - x;
                FlagAtlasPartPlaced(parts.data(), count, i);
                placedOne = true;
                break;
            }
        }
        shelfTop = used.height;
    }
    return used;
}

TEST(AtlasPackerTest, ShelvesTakeTheTallestPartsFirstAndListThemInReversePlacingOrder) {
    std::vector<TextureAtlasPart> four(4, Part(64, 64));
    AtlasSize size = PackAtlasParts(four.data(), 4, 128);
    EXPECT_EQ(size.width, 128);
    EXPECT_EQ(size.height, 128);
    EXPECT_EQ(Placements(four),
              (std::vector<std::pair<int32_t, int32_t>>{{64, 64}, {0, 64}, {64, 0}, {0, 0}}));

    std::vector<TextureAtlasPart> mixed = {Part(64, 32, 1), Part(64, 64, 2), Part(64, 64, 3)};
    size = PackAtlasParts(mixed.data(), 3, 128);
    EXPECT_EQ(size.width, 128);
    EXPECT_EQ(size.height, 96);
    EXPECT_EQ(mixed[0].sourceX, 1);
    EXPECT_EQ(Placements(mixed),
              (std::vector<std::pair<int32_t, int32_t>>{{0, 64}, {64, 0}, {0, 0}}));
}

TEST(AtlasPackerTest, PartsThatCannotBePlacedRefuseTheWidth) {
    struct Case {
        const char* label;
        std::vector<TextureAtlasPart> parts;
        int32_t width;
    };
    const Case cases[] = {
        {"none", {}, 128},
        {"too wide", {Part(64, 64), Part(129, 8)}, 128},
        {"taller than any atlas shelf", {Part(8, 2049)}, 4096},
    };
    for (Case c : cases) {
        const AtlasSize size = PackAtlasParts(c.parts.data(), static_cast<int>(c.parts.size()),
                                              c.width);
        EXPECT_EQ(size.width, 0) << c.label;
        EXPECT_EQ(size.height, 0) << c.label;
    }
    std::vector<TextureAtlasPart> tallest = {Part(8, 2048)};
    EXPECT_EQ(PackAtlasParts(tallest.data(), 1, 8).height, 2048);
}

TEST(AtlasPackerTest, PlacementsAndOrderEqualTheShelfLoopsOnRandomSets) {
    std::mt19937 random(61);
    for (int round = 0; round < 3000; ++round) {
        const int count = static_cast<int>(random() % 40);
        const int32_t width = 16 + static_cast<int32_t>(random() % 200);
        std::vector<TextureAtlasPart> parts;
        for (int i = 0; i < count; ++i) {
            // Few distinct sizes, so that ties test the sort's stability.
            parts.push_back(Part(static_cast<int32_t>(random() % 8) * 8,
                                 static_cast<int32_t>(random() % 6) * 16, i));
        }
        std::vector<TextureAtlasPart> expected = parts;
        const AtlasSize want = ReferencePack(expected, width);
        const AtlasSize got = PackAtlasParts(parts.data(), count, width);
        ASSERT_EQ(got.width, want.width) << round;
        ASSERT_EQ(got.height, want.height) << round;
        for (int i = 0; i < count && want.width > 0; ++i) {
            ASSERT_EQ(parts[i].sourceX, expected[i].sourceX) << round << " " << i;
            ASSERT_EQ(parts[i].atlasX, expected[i].atlasX) << round << " " << i;
            ASSERT_EQ(parts[i].atlasY, expected[i].atlasY) << round << " " << i;
            ASSERT_TRUE(parts[i].placed);
        }
    }
}

} // namespace
} // namespace quarn
