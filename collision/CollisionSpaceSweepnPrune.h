#pragma once

#include "collision/ArraySweepAndPrune.h"
#include "collision/CollisionSpace.h"

#include <memory>
#include <vector>

namespace quarn {

// A space whose volumes live in an incremental sweep-and-prune. Overlapping pairs keep their
// records in the pair cache, with touching and contact data, for as long as they overlap.
class CollisionSpaceSweepnPrune : public CollisionSpace {
public:
    static constexpr int32_t MaxVolumeLimit = 65535;

    CollisionSpaceSweepnPrune();
    ~CollisionSpaceSweepnPrune() override;

    ClassInfo* GetClass() const override { return classInfo; }
    int32_t Render() override;

    // Refused (with a validity message) once maxvolumes volumes are in.
    void AddVolume(CollisionVolume& volume) override;
    // Rebuilds the pair records at once.
    void RemoveVolume(CollisionVolume& volume) override;
    void VolumeMoved(CollisionVolume& volume) override;
    void Prepare() override;
    // Every cached pair through FilterCachedPair; the user data is not used.
    void Collide(void* userData, CollisionPairCallback callback) override;
    void CollideVolume(void*, CollisionVolume&, CollisionPairCallback) override {}

    int32_t GetMaxVolumes() const { return maxVolumes_; }
    // Ignored for 0 or less and below the volumes already in; above MaxVolumeLimit, that limit
    // is taken, with a log line.
    void SetMaxVolumes(int32_t count);
    uint32_t GetSpaceFlags() const { return spaceFlags_; }
    void SetSpaceFlags(uint32_t flags) { spaceFlags_ = flags; }
    // The next Prepare rebuilds the pair records.
    void Reset() { pairsValid_ = false; }
    // Takes every volume out of the sweep-and-prune and puts it back, each keeping its number.
    void Rebuild();

    // The editor's layer buttons: the first two spaces of this class, in creation order.
    static int32_t HandleToolbar(int32_t button, int32_t action);
    // Null once the scene's teardown began.
    const ArraySweepAndPrune* GetSweepAndPrune() const { return sweepAndPrune_.get(); }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void DumpPairs();
    // The sweep-and-prune follows as many pairs as the cache holds (GetPairLimit): room for every
    // pair the cache takes and for the ones it never takes (two static volumes, a disabled one)
    // in any ordinary scene, while volumes piled on one spot cost memory in proportion to their
    // number, not its square. The limit follows the volume count.
    void UpdatePairLimit();
    static bool KeepsPairFirst(void* a, void* b);
    void CountRefusedPairs();
    // The full-space report, once per space until its limit is set again: a scene that forgot
    // "maxvolumes" would otherwise raise it for every volume.
    void ReportFull();
    static uintptr_t OnPairCreated(void* a, void* b, void* space);
    static void OnPairDeleted(void* a, void* b, void* space, uintptr_t pairData);
    // Both static, or one not fully enabled.
    static bool SkipsPair(const CollisionVolume& a, const CollisionVolume& b);

    int32_t maxVolumes_ = 0;
    uint32_t spaceFlags_ = 0;
    std::vector<uint32_t> freeIds_; // free volume numbers, the next at the end
    int32_t sapVolumeCount_ = 0;
    std::unique_ptr<ArraySweepAndPrune> sweepAndPrune_; // gone once teardown began
    int32_t pendingAdds_ = 0;
    int32_t pendingRemoves_ = 0;
    int32_t pendingUpdates_ = 0;
    bool pairsValid_ = true;
    bool fullReported_ = false;
};

} // namespace quarn
