#pragma once

#include "collision/CollisionSpace.h"

#include <vector>

namespace quarn {

// A space that hashes its volumes into a multi-level grid on every Collide and reports each
// overlapping pair once, with the caller's own user data. It keeps no pair records.
class CollisionSpaceHash : public CollisionSpace {
public:
    ClassInfo* GetClass() const override { return classInfo; }
    // The world box of each fully enabled volume, with the gizmo flag.
    int32_t Render() override;

    void Prepare() override {}
    void Collide(void* userData, CollisionPairCallback callback) override;
    // Every fully enabled volume of the space against the given one.
    void CollideVolume(void* userData, CollisionVolume& volume,
                       CollisionPairCallback callback) override;

    // The grid level of a box: the binary exponent of its largest extent; INT_MAX for a box
    // reaching infinity.
    static int BoxLevel(const Aabb& box);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    struct Hashed {
        CollisionVolume* volume;
        int level;
        int32_t cells[6]; // minimum x, y, z, maximum x, y, z at the volume's level
    };
    struct CellEntry {
        int32_t x, y, z;
        uint32_t volume; // index into hashed_
        uint32_t next;   // next entry of the bucket
    };

    // True the first time a pair of hashed indices is met in this call.
    bool MarkTested(uint32_t a, uint32_t b);
    void GrowTested();

    int minLevel_ = -3;
    int maxLevel_ = 10;
    // Kept between calls so that a step allocates nothing once they have grown.
    std::vector<Hashed> hashed_;
    std::vector<CollisionVolume*> big_;
    std::vector<uint32_t> buckets_;
    std::vector<CellEntry> entries_;
    std::vector<uint64_t> tested_; // open addressing on pair keys; 0 marks a free slot
    size_t testedCount_ = 0;
};

} // namespace quarn
