#include "physics/ScratchArena.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace quarn {
namespace {

// Room taken in an outer scope, then more than the arena holds taken in an inner one.
float* OneRound(ScratchArena& arena, size_t inner) {
    ScratchArena::Scope outer(arena);
    float* kept = arena.Take<float>(10);
    for (int k = 0; k < 10; ++k) {
        kept[k] = float(k);
    }
    {
        ScratchArena::Scope nested(arena);
        double* big = arena.Take<double>(inner);
        big[inner - 1] = 1.0;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 16, 0u);
    }
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(kept[k], float(k)); // growth never moves room already handed out
    }
    EXPECT_EQ(reinterpret_cast<uintptr_t>(arena.Take<char>(1)) % 16, 0u);
    return kept;
}

TEST(ScratchArena, GrowsToItsHighWaterMarkAndThenReusesOneBlock) {
    ScratchArena arena;
    OneRound(arena, 100);
    OneRound(arena, 5000);
    const size_t capacity = arena.Capacity();
    float* first = OneRound(arena, 5000);
    EXPECT_EQ(OneRound(arena, 5000), first);
    EXPECT_EQ(arena.Capacity(), capacity);
    EXPECT_LT(capacity, 2 * 5000 * sizeof(double));
}

} // namespace
} // namespace quarn
