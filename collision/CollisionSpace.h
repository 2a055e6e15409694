#pragma once

#include "core/math/Geometry.h"
#include "core/math/Vector.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>

namespace quarn {

class CollisionVolume;

// The cached state of one pair of volumes, kept from step to step. Volumes are named by their
// entity serials, the higher one first, so a scene fills the cache the same way in every run.
struct CollisionPair {
    uint64_t first = 0; // 0 marks a free record
    uint64_t second = 0;
    uint32_t stamp = 0;     // step counter when the direction was stored
    uint32_t home = 0;      // the pair's hash; its home slot is that in the table's size
    bool touching = false;  // the narrow phase found contacts in the last test
    Float3 direction;       // cached separating or penetration direction, as seen from first
    Float3 contactPosition; // the first contact, as the physics world copied it
    Float3 contactNormal;
    float contactDepth = 0.0f;
    uint32_t touchStep = 0; // step counter when the contact was copied
    uint32_t usedSlot = 0;  // the entry of the used list that names this record
    // The volumes the serials name, valid only while the serials still resolve: serials are
    // never reused, so a live serial vouches for its pointer and no cast is needed.
    CollisionVolume* firstVolume = nullptr;
    CollisionVolume* secondVolume = nullptr;
    // Entity::GetDestroyedCount when both serials last resolved: while it stands, nothing has
    // been destroyed since and the serials need no look-up.
    uint64_t aliveAsOf = UINT64_MAX;
};

// What a space hands each candidate pair: the pair record from a sweep-and-prune space, the
// caller's own user data from a hash space.
using CollisionPairCallback = void (*)(void* data, CollisionVolume& first,
                                       CollisionVolume& second);

// A scene node that groups collision volumes and finds the pairs that may touch: the intrusive
// list of its volumes, the pair cache, and box and ray queries for scripts. The physics world
// drives every space once per step: Prepare, then Collide.
class CollisionSpace : public RenderObject {
public:
    // The pair cache holds this many pairs and PairsPerVolume more for each volume of the space,
    // its table growing as they come: a crowd of boxes holds about six pairs a box, and a heap of
    // 3,000 left the floor's pairs out of a table of 8,192 and fell through it. Pairs with a
    // volume that does not move with a body (a static one, or one on no body: a floor, a wall)
    // may take KeptPairsPerVolume more for each volume, so that where volumes pile up past the
    // limit the pairs that hold bodies up are kept before pairs of two moving ones.
    static constexpr uint32_t PairCapacity = 8192;
    static constexpr uint32_t PairsPerVolume = 8;
    static constexpr uint32_t KeptPairsPerVolume = 2;
    static constexpr int BoxQueryCapacity = 1024;
    static constexpr int RayQueryCapacity = 256;

    CollisionSpace();
    ~CollisionSpace() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // The union of the volumes' boxes; inverted and infinite with no volume.
    void UpdateWorldBoundingBox() override;

    virtual void AddVolume(CollisionVolume& volume);
    // Also drops every cached pair that names the volume.
    virtual void RemoveVolume(CollisionVolume& volume);
    // The volume's transform changed.
    virtual void VolumeMoved(CollisionVolume& volume);
    virtual void Prepare() = 0;
    virtual void Collide(void* userData, CollisionPairCallback callback) = 0;
    virtual void CollideVolume(void* userData, CollisionVolume& volume,
                               CollisionPairCallback callback) = 0;

    // The pair cache: open addressing with linear probing over a table of PairCapacity records
    // at first, twice as many each time it is three quarters full.
    void ClearPairs();
    CollisionPair* FindPair(const CollisionVolume& a, const CollisionVolume& b);
    // Null past the pairs the space may hold (GetPairLimit): the pair is counted as dropped
    // and, the first time, a warning names the space. Creating a pair may move every record.
    CollisionPair* FindOrCreatePair(CollisionVolume& a, CollisionVolume& b);
    // The most pairs the cache holds, of any kind or (kept) with one volume that does not move
    // with a body; and the same for a space of so many volumes.
    uint32_t GetPairLimit(bool kept) const { return PairLimitFor(volumeCount_, kept); }
    static uint32_t PairLimitFor(int32_t volumes, bool kept);
    // Whether the pair is kept before pairs of two moving volumes.
    static bool KeepsPairFirst(const CollisionVolume& a, const CollisionVolume& b);
    void RemovePair(CollisionPair& record);
    bool Contains(const CollisionVolume& volume) const;
    uint32_t GetUsedPairCount() const { return usedPairCount_; }
    // In creation order, holes filled by the last one.
    CollisionPair& GetUsedPair(uint32_t index) { return pairs_[usedPairs_[index]]; }
    uint64_t GetDroppedPairCount() const { return droppedPairs_; }

    // Hands the record's pair on when both volumes still exist as collision volumes, belong to
    // different bodies, are fully enabled and one accepts the other. Clears touching first.
    void FilterCachedPair(CollisionPair& record, CollisionPairCallback callback);
    // Hands the pair on when they belong to different bodies, are fully enabled, one's active
    // flags meet the other's query flags and their world boxes overlap (touching counts).
    static void FilterBoxPair(CollisionVolume& a, CollisionVolume& b, void* userData,
                              CollisionPairCallback callback);

    // The fully enabled volumes whose world box overlaps the box, at most `capacity`.
    int BoxQuery(const Float3& min, const Float3& max, CollisionVolume** out, int capacity);
    // The nearest volume the ray (origin, delta) hits before its end, kept for the hit getters.
    bool RayQuery(Float3 origin, Float3 delta, int32_t value, int32_t mask);
    bool PickSubtree(Entity* node, Float3 origin, Float3 direction, int32_t flags, int32_t value,
                     int32_t mask);

    int32_t GetSpaceNum() const { return spaceNum_; }
    void SetSpaceNum(int32_t number) { spaceNum_ = number; }
    CollisionVolume* GetFirstVolume() const { return firstVolume_; }
    int32_t GetVolumeCount() const { return volumeCount_; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // Draws the world box of a volume in debug lines.
    static void DrawVolumeBox(CollisionVolume& volume, uint32_t color);
    // Counts pairs a space's broad phase had no room to keep; the first time, the log names
    // the space.
    void CountDroppedPairs(uint64_t count, const char* where, uint32_t room);

private:
    // The hash of a pair, its home slot in a table of any size by its low bits.
    static uint32_t HashPair(uint64_t first, uint64_t second);
    // Doubles the table, each record moving to its place there.
    void GrowPairs();
    // The record's volumes, or null for one that is gone or no longer a collision volume.
    static CollisionVolume* ResolveVolume(uint64_t serial);
    CollisionPair* UsedPairAt(int32_t index);

    // Script methods.
    Entity* ScriptHitNode();
    float ScriptHitDistance();
    Float3 ScriptHitPosition();
    Float3 ScriptHitNormal();
    int32_t ScriptBoxQuery(Float3 min, Float3 max);
    Entity* ScriptBoxQueryEntry(int32_t index);
    int32_t ScriptUsedPairCount() { return static_cast<int32_t>(usedPairCount_); }
    Entity* ScriptPairFirst(int32_t index);
    Entity* ScriptPairSecond(int32_t index);
    bool ScriptPairTouching(int32_t index);
    Float3 ScriptPairContactPosition(int32_t index);
    Float3 ScriptPairContactNormal(int32_t index);
    float ScriptPairContactDepth(int32_t index);
    int32_t ScriptPairTouchStep(int32_t index);

    int32_t spaceNum_ = 0;
    uint32_t slotCount_ = PairCapacity; // a power of two
    std::unique_ptr<CollisionPair[]> pairs_;
    std::unique_ptr<uint32_t[]> usedPairs_;
    uint32_t usedPairCount_ = 0;
    CollisionVolume* firstVolume_ = nullptr;
    int32_t volumeCount_ = 0;
    uint64_t droppedPairs_ = 0;
};

} // namespace quarn
