#include "collision/ArraySweepAndPrune.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace quarn {
namespace {

TEST(SortableFloatTest, EncodingOrdersAsTheFloats) {
    const float ordered[] = {-std::numeric_limits<float>::infinity(),
                             -3.0e38f,
                             -1.0f,
                             -std::numeric_limits<float>::denorm_min(),
                             -0.0f,
                             0.0f,
                             std::numeric_limits<float>::denorm_min(),
                             std::numeric_limits<float>::min(),
                             1.0f,
                             std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::infinity()};
    for (size_t i = 1; i < std::size(ordered); ++i) {
        EXPECT_LT(EncodeSortableFloat(ordered[i - 1]), EncodeSortableFloat(ordered[i])) << i;
    }
}

TEST(RadixSortTest, RanksEqualAStableSortAndSkipUniformBytes) {
    std::mt19937 random(7);
    for (bool isUnsigned : {true, false}) {
        for (uint32_t mask : {0xFFFFFFFFu, 0x0000FF00u, 0xFF000003u}) {
            std::vector<uint32_t> keys(997);
            for (uint32_t& key : keys) {
                key = random() & mask;
            }
            std::vector<uint32_t> expected(keys.size());
            for (uint32_t i = 0; i < expected.size(); ++i) {
                expected[i] = i;
            }
            std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) {
                return isUnsigned ? keys[a] < keys[b]
                                  : static_cast<int32_t>(keys[a]) < static_cast<int32_t>(keys[b]);
            });
            RadixSort sorter;
            const uint32_t* ranks =
                sorter.Sort(keys.data(), static_cast<uint32_t>(keys.size()), isUnsigned).GetRanks();
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), ranks)) << mask;
            EXPECT_EQ(sorter.Sort(nullptr, 5).GetRanks(), ranks); // no input: ranks kept
        }
    }
}

TEST(BroadPhaseMemoryTest, StatisticsReturnToEarlierValuesAndBorrowedStorageStays) {
    DefaultAllocator& counter = DefaultAllocator::Instance();
    const size_t live = counter.GetLiveBytes();
    const uint64_t blocks = counter.GetLiveAllocations();
    {
        Container grown;
        for (uint32_t i = 0; i < 1000; ++i) {
            ASSERT_TRUE(grown.Add(i));
        }
        EXPECT_EQ(grown[999], 999u);
        EXPECT_GE(counter.GetPeakBytes(), live + 1000 * sizeof(uint32_t));
        void* block = counter.Allocate(24, 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
        EXPECT_EQ(counter.Reallocate(block, 48), nullptr);
        counter.Free(block);
        EXPECT_EQ(counter.Allocate(0, 0), nullptr);
    }
    EXPECT_EQ(counter.GetLiveBytes(), live);
    EXPECT_EQ(counter.GetLiveAllocations(), blocks);

    uint32_t storage[2];
    Container borrowed(storage, 2, 0.0f);
    EXPECT_TRUE(borrowed.Add(1) && borrowed.Add(2));
    EXPECT_FALSE(borrowed.Add(3));
    EXPECT_EQ(borrowed.GetCount(), 2u);
    borrowed.Reset();
    EXPECT_EQ(borrowed.GetEntries(), storage);
}

// The sweep-and-prune against a brute-force overlap test in the encoding's order, and the
// created and deleted callbacks against the change of that set between dumps.
class SweepAndPruneModel {
public:
    using Box = std::array<float, 6>;
    using PairSet = std::set<std::pair<uintptr_t, uintptr_t>>;

    void Add(const Box& box) {
        const uintptr_t object = ++lastObject_;
        const uint32_t handle = sap_.AddObject(reinterpret_cast<void*>(object), 0, box.data());
        ASSERT_NE(handle, ArraySweepAndPrune::InvalidHandle);
        live_[object] = {handle, box};
    }
    void Move(uintptr_t object, const Box& box) {
        ASSERT_TRUE(sap_.UpdateObject(live_[object].first, box.data()));
        live_[object].second = box;
    }
    void Remove(uintptr_t object) {
        ASSERT_TRUE(sap_.RemoveObject(live_[object].first));
        live_.erase(object);
    }
    uint32_t Dump(SapPair** pairs) { return sap_.DumpPairs(&Created, &Deleted, this, pairs); }
    void DumpAndCheck() {
        SapPair* pairs = nullptr;
        const uint32_t count = Dump(&pairs);
        const PairSet expected = BruteForce();
        EXPECT_EQ(reported_, expected);
        PairSet held;
        for (uint32_t i = 0; i < count; ++i) {
            held.insert(Ordered(reinterpret_cast<uintptr_t>(pairs[i].object0),
                                reinterpret_cast<uintptr_t>(pairs[i].object1)));
        }
        EXPECT_EQ(held, expected);
    }
    PairSet BruteForce() const {
        PairSet pairs;
        for (auto a = live_.begin(); a != live_.end(); ++a) {
            for (auto b = std::next(a); b != live_.end(); ++b) {
                if (Overlap(a->second.second, b->second.second)) {
                    pairs.insert({a->first, b->first});
                }
            }
        }
        return pairs;
    }
    static bool Overlap(const Box& a, const Box& b) {
        for (int axis = 0; axis < 3; ++axis) {
            if (EncodeSortableFloat(a[axis]) > EncodeSortableFloat(b[axis + 3]) ||
                EncodeSortableFloat(b[axis]) > EncodeSortableFloat(a[axis + 3])) {
                return false;
            }
        }
        return true;
    }
    std::vector<uintptr_t> LiveObjects() const {
        std::vector<uintptr_t> objects;
        for (const auto& entry : live_) {
            objects.push_back(entry.first);
        }
        return objects;
    }

    ArraySweepAndPrune sap_;
    PairSet reported_;
    int callbacks_ = 0;

private:
    static std::pair<uintptr_t, uintptr_t> Ordered(uintptr_t a, uintptr_t b) {
        return {std::min(a, b), std::max(a, b)};
    }
    static uintptr_t Created(void* a, void* b, void* model) {
        auto* self = static_cast<SweepAndPruneModel*>(model);
        EXPECT_TRUE(self->reported_
                        .insert(Ordered(reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b)))
                        .second);
        ++self->callbacks_;
        return 77;
    }
    static void Deleted(void* a, void* b, void* model, uintptr_t data) {
        auto* self = static_cast<SweepAndPruneModel*>(model);
        EXPECT_EQ(data, 77u);
        EXPECT_EQ(self->reported_.erase(
                      Ordered(reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b))),
                  1u);
        ++self->callbacks_;
    }

    uintptr_t lastObject_ = 0;
    std::map<uintptr_t, std::pair<uint32_t, Box>> live_;
};

struct RandomRun {
    const char* name;
    int boxes;
    int dumps;
    int changesPerDump;
    float world;   // coordinates lie in [-world, world]
    float maxSize; // box edges up to this, in steps of 0.25 so that faces touch
};

class SweepAndPruneRandomTest : public ::testing::TestWithParam<RandomRun> {};

TEST_P(SweepAndPruneRandomTest, PairsAndCallbacksFollowTheBruteForceSet) {
    const RandomRun run = GetParam();
    std::mt19937 random(1234);
    auto coordinate = [&](float world) {
        const float value = std::round(std::uniform_real_distribution<float>(-world, world)(random) * 4.0f) / 4.0f;
        // Plenty of zeros of both signs.
        return value == 0.0f ? ((random() & 1) ? -0.0f : 0.0f) : value;
    };
    auto makeBox = [&]() {
        SweepAndPruneModel::Box box;
        for (int axis = 0; axis < 3; ++axis) {
            box[axis] = coordinate(run.world);
            const float size = std::floor(std::uniform_real_distribution<float>(0.0f, run.maxSize)(random) * 4.0f) / 4.0f;
            float max = box[axis] + size;
            if (max == 0.0f && std::signbit(box[axis])) {
                max = (random() & 1) ? -0.0f : 0.0f; // ends at -0.0 or +0.0
            }
            box[axis + 3] = max;
        }
        return box;
    };
    SweepAndPruneModel model;
    for (int i = 0; i < run.boxes; ++i) {
        model.Add(makeBox());
    }
    model.DumpAndCheck();
    for (int dump = 0; dump < run.dumps; ++dump) {
        for (int change = 0; change < run.changesPerDump; ++change) {
            const std::vector<uintptr_t> objects = model.LiveObjects();
            const uint32_t kind = random() % 10;
            if (kind < 2 || objects.empty()) {
                model.Add(makeBox());
            } else if (kind < 4) {
                model.Remove(objects[random() % objects.size()]);
            } else {
                model.Move(objects[random() % objects.size()], makeBox());
            }
        }
        if (dump % 3 == 0) { // a box that comes and goes between dumps leaves no trace
            model.Add(makeBox());
            model.Remove(model.LiveObjects().back());
        }
        model.DumpAndCheck();
        if (::testing::Test::HasFailure()) {
            FAIL() << "after dump " << dump;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, SweepAndPruneRandomTest,
    ::testing::Values(RandomRun{"clustered", 300, 120, 25, 3.0f, 1.0f},
                      RandomRun{"spread", 2500, 4, 400, 200.0f, 4.0f},
                      RandomRun{"dense", 2000, 4, 300, 10.0f, 1.0f},
                      RandomRun{"flat", 150, 150, 10, 1.0f, 0.5f}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SweepAndPruneTest, ABoxMovedAcrossTheArrayPairsWithWhatItNowOverlaps) {
    SweepAndPruneModel model;
    for (int i = 0; i < 50; ++i) {
        const float x = static_cast<float>(i);
        model.Add({x, 0.0f, 0.0f, x + 1.0f, 1.0f, 1.0f}); // a row of touching boxes
    }
    model.Add({-100.0f, 0.0f, 0.0f, -99.0f, 1.0f, 1.0f});
    model.DumpAndCheck();
    EXPECT_EQ(model.reported_.size(), 49u);
    const uintptr_t mover = model.LiveObjects().back();
    model.Move(mover, {20.5f, 0.5f, 0.5f, 22.0f, 3.0f, 3.0f});
    model.DumpAndCheck();
    EXPECT_EQ(model.reported_.size(), 49u + 3u);
    model.Move(mover, {100.0f, -0.0f, -0.0f, 101.0f, 0.0f, 0.0f});
    model.DumpAndCheck();
    EXPECT_EQ(model.reported_.size(), 49u);
}

TEST(SweepAndPruneTest, ABoxEndingAtMinusZeroMissesOneStartingAtPlusZero) {
    SweepAndPruneModel model;
    model.Add({-1.0f, 0.0f, 0.0f, -0.0f, 1.0f, 1.0f});
    model.Add({0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f});
    model.Add({-0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f});
    model.DumpAndCheck();
    EXPECT_EQ(model.reported_.size(), 2u); // only -0.0 meets -0.0
}

TEST(SweepAndPruneTest, ThePairTableGrowsAndShrinksBack) {
    SweepAndPruneModel model;
    for (int i = 0; i < 200; ++i) {
        model.Add({0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f});
    }
    model.DumpAndCheck();
    const SapPairManager& manager = model.sap_.GetPairManager();
    EXPECT_EQ(manager.GetCount(), 200u * 199u / 2u);
    EXPECT_GE(manager.GetTableSize(), manager.GetCount());
    for (uintptr_t object : model.LiveObjects()) {
        if (object > 2) {
            model.Remove(object);
        }
    }
    model.DumpAndCheck();
    EXPECT_EQ(manager.GetCount(), 1u);
    EXPECT_LE(manager.GetTableSize(), 2u);
}

TEST(SweepAndPruneTest, ALimitedPairListKeepsWhatFitsAndFindsTheRestWhenTheyMeetAgain) {
    SweepAndPruneModel model;
    model.sap_.SetPairLimit(100);
    for (int i = 0; i < 40; ++i) {
        model.Add({0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f});
    }
    SapPair* pairs = nullptr;
    ASSERT_EQ(model.Dump(&pairs), 100u);
    const SweepAndPruneModel::PairSet all = model.BruteForce();
    for (const auto& pair : model.reported_) {
        EXPECT_TRUE(all.count(pair));
    }
    EXPECT_EQ(model.reported_.size(), 100u);
    EXPECT_EQ(model.sap_.TakeRefusedPairCount(), 40u * 39u / 2u - 100u);
    EXPECT_EQ(model.sap_.TakeRefusedPairCount(), 0u);

    // Pairs left out are not followed while their boxes stay together; once the boxes part (the
    // last farthest, so that none passes another) and meet again in a row, each overlapping its
    // neighbours only, every pair fits.
    const std::vector<uintptr_t> objects = model.LiveObjects();
    for (size_t i = objects.size(); i-- > 0;) {
        const float x = 10.0f * static_cast<float>(i);
        model.Move(objects[i], {x, 0.0f, 0.0f, x + 1.0f, 1.0f, 1.0f});
    }
    model.DumpAndCheck();
    EXPECT_TRUE(model.reported_.empty());
    for (size_t i = 0; i < objects.size(); ++i) {
        const float x = 0.75f * static_cast<float>(i);
        model.Move(objects[i], {x, 0.0f, 0.0f, x + 1.0f, 1.0f, 1.0f});
    }
    model.DumpAndCheck();
    EXPECT_EQ(model.reported_.size(), 39u);
    EXPECT_EQ(model.sap_.TakeRefusedPairCount(), 0u);
}

TEST(SweepAndPruneTest, InvertedAndNaNBoxesCauseNoFault) {
    ArraySweepAndPrune sap;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float boxes[][6] = {{0, 0, 0, 1, 1, 1},      {1, 1, 1, 0, 0, 0},
                              {nan, 0, 0, 1, nan, 1},  {-nan, -nan, -nan, nan, nan, nan},
                              {0.5f, 0, 0, 0.5f, 1, 1}};
    std::vector<uint32_t> handles;
    for (const auto& box : boxes) {
        handles.push_back(sap.AddObject(nullptr, 0, box));
    }
    sap.DumpPairs(nullptr, nullptr, nullptr, nullptr);
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < handles.size(); ++i) {
            EXPECT_TRUE(sap.UpdateObject(handles[i], boxes[(i + round + 1) % std::size(boxes)]));
        }
        sap.DumpPairs(nullptr, nullptr, nullptr, nullptr);
    }
    for (uint32_t handle : handles) {
        EXPECT_TRUE(sap.RemoveObject(handle));
    }
    EXPECT_EQ(sap.DumpPairs(nullptr, nullptr, nullptr, nullptr), 0u);
}

TEST(SweepAndPruneTest, HandlesAreReusedAndBadOnesRefused) {
    ArraySweepAndPrune sap;
    const float box[6] = {0, 0, 0, 1, 1, 1};
    const uint32_t first = sap.AddObject(nullptr, 0, box);
    EXPECT_TRUE(sap.RemoveObject(first));
    EXPECT_FALSE(sap.RemoveObject(first));
    EXPECT_FALSE(sap.RemoveObject(12345));
    EXPECT_FALSE(sap.UpdateObject(first, box));
    sap.DumpPairs(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(sap.AddObject(nullptr, 0, box), first);
}

} // namespace
} // namespace quarn
