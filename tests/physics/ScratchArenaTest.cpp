#include "physics/ScratchArena.h"

#include <cstddef>
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

// One round needing `bytes`, its room written through as a solve writes it.
std::byte* NeedRound(ScratchArena& arena, size_t bytes) {
    ScratchArena::Scope round(arena);
    std::byte* room = arena.Take<std::byte>(bytes);
    room[0] = room[bytes - 1] = std::byte{1};
    return room;
}

TEST(ScratchArena, ANeedGrowingEveryRoundGrowsTheArenaOnlyByDoubling) {
    ScratchArena arena;
    int growths = 0;
    size_t capacity = 0;
    std::byte* last = nullptr;
    bool grew = true;
    double need = 64 * 1024;
    for (int round = 0; round < 400; ++round, need *= 1.01) {
        std::byte* room = NeedRound(arena, static_cast<size_t>(need));
        const bool grewBefore = grew;
        grew = arena.Capacity() != capacity;
        if (!grew && !grewBefore) {
            EXPECT_EQ(room, last); // the same memory, its pages already in place
        }
        if (grew) {
            ++growths;
            EXPECT_GE(arena.Capacity(), 2 * capacity);
            capacity = arena.Capacity();
        }
        last = room;
        EXPECT_LE(capacity, 2 * static_cast<size_t>(need) + 64);
    }
    // 54 times the first need: log2(54) doublings and the first block.
    EXPECT_LE(growths, 8);
}

TEST(ScratchArena, GivesMemoryBackOnlyAfterManyRoundsFarBelowIt) {
    constexpr size_t Large = 16 << 20;
    constexpr size_t Small = 64 << 10;
    ScratchArena arena;
    NeedRound(arena, Large);
    const size_t held = arena.Capacity();
    ASSERT_GE(held, Large);
    // A large round among the small ones starts their count again.
    for (int round = 1; round < ScratchArena::TrimRounds; ++round) {
        NeedRound(arena, Small);
    }
    NeedRound(arena, Large / 2);
    for (int round = 1; round < ScratchArena::TrimRounds; ++round) {
        NeedRound(arena, Small);
    }
    EXPECT_EQ(arena.Capacity(), held);
    NeedRound(arena, 2 * Small);
    EXPECT_EQ(arena.Capacity(), ScratchArena::LeastTrimmedBytes);
    // And takes it again as a round needs it.
    NeedRound(arena, Large);
    EXPECT_GE(arena.Capacity(), Large);
}

} // namespace
} // namespace quarn
