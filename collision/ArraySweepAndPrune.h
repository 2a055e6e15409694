#pragma once

#include "collision/BroadPhaseMemory.h"

#include <cstdint>

namespace quarn {

// A float as an unsigned word that orders as the float does under unsigned comparison
// (-0.0 just below +0.0, every negative below every positive).
inline uint32_t EncodeSortableFloat(float value) {
    uint32_t bits;
    __builtin_memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

// One overlapping pair of boxes; id0 < id1, objects in the same order.
struct SapPair {
    uint16_t id0;
    uint16_t id1;
    void* object0;
    void* object1;
    uintptr_t userData; // what the created-pair callback answered
    bool touched;       // in the touched list
    bool isNew;         // not reported yet
    bool deleted;       // the boxes separated since the last report
};

// The set of overlapping pairs, a hash on the two 16-bit box numbers whose table grows and
// shrinks by powers of two with the pair count.
class SapPairManager {
public:
    static constexpr uint32_t None = 0xFFFFFFFF;

    SapPairManager() = default;
    ~SapPairManager();
    SapPairManager(const SapPairManager&) = delete;
    SapPairManager& operator=(const SapPairManager&) = delete;

    // The existing pair or a new one (flags clear, user data 0); ids are ordered here. Null
    // when the pair is new and `room` pairs are held already.
    SapPair* Add(uint16_t id0, uint16_t id1, void* object0, void* object1, uint32_t room = None);
    SapPair* Find(uint16_t id0, uint16_t id1) const;
    uint32_t FindIndex(uint16_t id0, uint16_t id1) const;
    // The last pair takes the removed one's index.
    bool Remove(uint16_t id0, uint16_t id1);
    // Removes every pair naming a box whose bit is set.
    void RemoveMarked(const BitArray& boxes);

    uint32_t GetCount() const { return count_; }
    uint32_t GetTableSize() const { return tableSize_; }
    SapPair* GetPairs() const { return pairs_; }

private:
    void RemoveAt(uint32_t index);
    // Reallocates the table for `size` buckets and relinks every pair.
    void Rehash(uint32_t size);
    void ShrinkToFit();

    uint32_t tableSize_ = 0;
    uint32_t count_ = 0;
    uint32_t* buckets_ = nullptr; // bucket heads, None for an empty one
    uint32_t* next_ = nullptr;    // per pair, the next pair of its bucket
    SapPair* pairs_ = nullptr;
};

// Incremental sweep-and-prune over three sorted endpoint arrays. Moves shift endpoints at once
// and keep the pair set up to date; additions and removals wait for the next DumpPairs, which
// merges or compacts each array once and reports the pairs created and deleted since the last
// dump. Objects are opaque to it.
class ArraySweepAndPrune {
public:
    static constexpr uint32_t InvalidHandle = 0xFFFFFFFF;
    // Box numbers are 16 bits wide.
    static constexpr uint32_t MaxBoxes = 65536;

    using CreatedPairCallback = uintptr_t (*)(void* object0, void* object1, void* userData);
    using DeletedPairCallback = void (*)(void* object0, void* object1, void* userData,
                                         uintptr_t pairUserData);

    ArraySweepAndPrune();
    ~ArraySweepAndPrune();
    ArraySweepAndPrune(const ArraySweepAndPrune&) = delete;
    ArraySweepAndPrune& operator=(const ArraySweepAndPrune&) = delete;

    // The box is six floats: minimum x, y, z, maximum x, y, z. InvalidHandle when all 65536
    // box numbers are taken.
    uint32_t AddObject(void* object, uint32_t volumeNumber, const float box[6]);
    // False for a handle that names no live box.
    bool RemoveObject(uint32_t handle);
    bool UpdateObject(uint32_t handle, const float box[6]);
    // Applies the queued additions, reports the touched pairs, then applies the queued
    // removals, reporting each reported pair of a removed box as deleted. A pair created and
    // deleted between two dumps, or naming a box added and removed between them, is not
    // reported. Answers the pair count and, when asked, the pairs.
    uint32_t DumpPairs(CreatedPairCallback created, DeletedPairCallback deleted, void* userData,
                       SapPair** pairs);

    const SapPairManager& GetPairManager() const { return pairManager_; }
    uint32_t GetBoxCount() const { return boxCount_; }
    // At most this many overlapping pairs are held (no limit by default), and as many again
    // that parted since the last dump; an overlap found beyond that is not kept, so it is
    // neither reported nor followed until its boxes part and meet again. Pairs already held
    // stay when the limit falls below their count.
    void SetPairLimit(uint32_t limit) { pairLimit_ = limit; }
    uint32_t GetPairLimit() const { return pairLimit_; }
    // Overlaps the callback keeps first may be held up to this limit instead, when it is the
    // higher; it is asked only of an overlap the pair limit would refuse.
    using KeepsPairCallback = bool (*)(void* object0, void* object1);
    void SetKeptPairs(uint32_t limit, KeepsPairCallback keeps) {
        keptPairLimit_ = limit;
        keepsPair_ = keeps;
    }
    // Overlaps found and not kept since the last call.
    uint64_t TakeRefusedPairCount();

private:
    struct Endpoint {
        uint32_t value; // encoded
        uint32_t data;  // handle << 2, low bit set for a maximum
    };
    struct BoxRecord {
        uint32_t minIndex[3];
        uint32_t maxIndex[3];
        void* object;
        uint32_t handleOrNextFree;
        float pending[6]; // the box while it waits for insertion
        bool live;
        bool dying; // queued for removal
    };
    struct BoundsWords {
        uint32_t value[6];
    };

    bool IsInserted(const BoxRecord& box) const { return box.minIndex[0] != InvalidHandle; }
    uint32_t BoxValue(const BoxRecord& box, int bound) const;
    bool OverlapByPosition(const BoxRecord& a, const BoxRecord& b, int axis) const;
    // How many pairs may be held (under the kept limit for a pair kept first): the parted ones
    // wait for the dump without taking room.
    uint32_t PairRoom(bool kept = false) const;
    // Whether an overlap of the two boxes would be refused with `held` pairs held.
    bool RefusesPair(uint32_t held, uint32_t handle0, uint32_t handle1) const;
    void AddTouchedPair(uint32_t handle0, uint32_t handle1);
    // For a box being inserted, which has no pair yet: nothing to look up once there is no room.
    void AddInsertedPair(uint32_t handle0, uint32_t handle1);
    void DeleteTouchedPair(uint32_t handle0, uint32_t handle1);
    void MoveEndpoint(int axis, uint32_t index, uint32_t value);
    void InsertPending();
    void RemovePending(DeletedPairCallback deleted, void* userData);
    void GrowEndpoints(uint32_t count);

    BoxRecord* boxes_ = nullptr;
    uint32_t boxCapacity_ = 0;
    uint32_t boxCount_ = 0;   // handles ever handed out
    uint32_t firstFree_ = InvalidHandle;
    Endpoint* endpoints_[3] = {};
    uint32_t endpointCount_ = 2; // per axis, the two sentinels included
    uint32_t endpointCapacity_ = 0;
    SapPairManager pairManager_;
    Container touched_;        // pair keys (id1 << 16 | id0) changed since the last dump
    Container pendingAdds_;    // handles
    Container pendingRemoves_; // handles
    RadixSort sorter_;
    uint32_t pairLimit_ = 0xFFFFFFFF;
    uint32_t keptPairLimit_ = 0;
    KeepsPairCallback keepsPair_ = nullptr;
    uint32_t partedPairs_ = 0; // held pairs flagged deleted, gone at the next dump
    uint64_t refusedPairs_ = 0;
};

} // namespace quarn
